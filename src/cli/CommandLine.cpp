#include "CommandLine.h"

#include "Console.h"
#include "ConsoleBoxes.h"
#include "ConsoleView.h"
#include "ProgressLine.h"
#include "QuietFolderBrowser.h"
#include "QuietShell.h"
#include "ReadOnlySettings.h"
#include "RunConnector.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"
#include "base/Services.h"
#include "base/Settings.h"
#include "base/SystemRandom.h"
#include "export/ExportRun.h"
#include "export/GroupChatExport.h"
#include "export/LegacyExport.h"
#include "export/SharedFiles.h"
#include "export/TranscriptFiles.h"
#include "files/FolderCreation.h"
#include "files/LocalFileSystem.h"
#include "skype/ContactList.h"
#include "skype/HistoryConnector.h"
#include "skype/HistorySource.h"
#include "skype/SkypeLink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <numeric>
#include <optional>
#include <set>

namespace {

struct Options {
    QString command;
    // Read as one when there are several.
    QStringList histories;
    QString out;
    QStringList contacts;
    bool older = false;
    std::optional<QDateTime> from;
    std::optional<QDateTime> to;
    bool groupChats = false;
    bool sharedFiles = false;
    bool quiet = false;
};

// The pickers' range.
const QDateTime kEarliestDate(QDate(1601, 1, 1), QTime(0, 0));
const QDateTime kLatestDate(QDate(9999, 12, 31), QTime(23, 59, 59, 999));

// A date option as read: its moment, or none when the text is no date; `skipped` when it names a
// local time the clocks skip when they are put forward, which no moment has here.
struct DateOption {
    std::optional<QDateTime> value;
    bool skipped = false;
};

// An ISO 8601 date (its midnight, as a date picker holds a date) or date-time, in local time unless
// it names its offset.
DateOption parseDate(const QString& text) {
    // Qt reads a date from the start of a longer text too: only the date alone is a date.
    const QDate date = text.size() == 10 ? QDate::fromString(text, Qt::ISODate) : QDate();
    // Where the clocks skip midnight, the day starts when the skip ends.
    if (date.isValid())
        return {date.startOfDay()};
    QString withT = text;
    if (withT.size() > 10 && withT.at(10) == QLatin1Char(' '))
        withT[10] = QLatin1Char('T');
    if (!withT.contains(QLatin1Char('T')))
        return {};
    const QDateTime value = QDateTime::fromString(withT, Qt::ISODateWithMs);
    // A local time in the skip is no moment (Qt 6.4), or one moved past the skip (later versions):
    // either way it differs from the local time written.
    const QDate writtenDate = QDate::fromString(withT.left(10), Qt::ISODate);
    const QTime writtenTime = QTime::fromString(withT.mid(11), Qt::ISODateWithMs);
    const bool local = !value.isValid() || value.timeSpec() == Qt::LocalTime;
    if (local && writtenDate.isValid() && writtenTime.isValid()) {
        const QDateTime written(writtenDate, writtenTime);
        if (!written.isValid() || written.date() != writtenDate || written.time() != writtenTime)
            return {std::nullopt, true};
    }
    if (!value.isValid())
        return {};
    return {value.toLocalTime()};
}

// The folder as the transcripts' paths start: absolute, in native form, with one trailing separator.
QString folderText(const QString& dir) {
    QString text = QDir::toNativeSeparators(QDir(dir).absolutePath());
    if (!text.endsWith(QDir::separator()))
        text += QDir::separator();
    return text;
}

class Run {
public:
    Run(Console& console, const SettingsStore& userSettings, SkypeConnector* link, FileSystem* files,
        const Options& options)
        : m_options(options)
        , m_progress(console, console.errIsTerminal() && !options.quiet)
        , m_boxes(console, m_progress)
        , m_settings(userSettings)
        , m_historyConnector(m_settings)
        , m_connector(link ? *link : m_historyConnector)
        , m_services{m_boxes,
                     m_shell,
                     m_settings,
                     m_browser,
                     m_connector,
                     m_random,
                     files ? *files : m_localFiles,
                     QCoreApplication::instance()
                         ? QDir::toNativeSeparators(QCoreApplication::applicationDirPath())
                         : QString()}
        , m_files(m_services.files) {
        // The link tells the line what is read, whichever handler reads it.
        if (m_progress.enabled())
            m_connector.setReadProgress(&m_progress);
        if (!options.histories.isEmpty())
            m_connector.chooseHistories(options.histories);
    }

    int contacts(Console& console);
    int exportTranscripts();

private:
    // Opens the history; false (having said why) when it cannot be read.
    bool openHistory();
    bool listContacts();
    bool tickContacts();
    bool prepareFolder();
    std::optional<std::vector<int>> planPasses();
    // The exit status the boxes shown from `first` on call for.
    int statusSince(qsizetype first) const;

    const Options& m_options;
    ProgressLine m_progress;
    ConsoleBoxes m_boxes;
    QuietShell m_shell;
    ReadOnlySettings m_settings;
    QuietFolderBrowser m_browser;
    SystemRandom m_random;
    LocalFileSystem m_localFiles;
    HistoryConnector m_historyConnector;
    RunConnector m_connector;
    Services m_services;
    // The files of the whole run: the folder's lock is held across the contacts and the group chats.
    TranscriptFiles m_files;
    ConsoleView m_view;
};

bool Run::openHistory() {
    try {
        const std::shared_ptr<SkypeRoot> root = m_connector.createRoot();
        if (root->client()->isRunning())
            return true;
        m_boxes.say(QStringLiteral("No Skype history was found. Name one with --history PATH or in "
                                   "PARLORIX_SKYPE_DATA; 'parlorix-cli histories' lists those on this "
                                   "machine."));
    } catch (...) {
        m_boxes.say(ErrorTrap::describe(std::current_exception()));
    }
    return false;
}

bool Run::listContacts() {
    const qsizetype before = m_boxes.shown().size();
    ContactList(m_view, m_services).listContacts();
    return m_boxes.shown().size() == before;
}

bool Run::tickContacts() {
    if (m_options.contacts.isEmpty()) {
        ContactList(m_view, m_services).checkAll();
        return true;
    }
    bool known = true;
    for (const QString& handle : m_options.contacts) {
        QList<int> rows = m_view.rowsWithText(handle);
        // A handle as 'contacts' prints it, escaped, its hexadecimal digits in either case.
        if (rows.isEmpty() && handle.contains(QLatin1Char('\\'))) {
            const QString escaped = CommandLine::lowerCaseEscapes(handle);
            const QStringList all = m_view.rows();
            for (int row = 1; row <= all.size(); ++row) {
                if (CommandLine::escapedHandle(all.at(row - 1)) == escaped)
                    rows.append(row);
            }
        }
        if (rows.isEmpty()) {
            m_boxes.say(
                QStringLiteral("'%1' is not in the contact list; 'parlorix-cli contacts' prints the list")
                    .arg(handle));
            known = false;
        }
        for (const int row : rows)
            m_view.setRowChecked(row, true);
    }
    return known;
}

bool Run::prepareFolder() {
    const QString text = folderText(m_options.out);
    const QString folder = QDir::toNativeSeparators(QDir(m_options.out).absolutePath());
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        m_boxes.say(QStringLiteral("'%1' is not a folder").arg(folder));
        return false;
    }
    if (!info.exists()) {
        const QString why = FolderCreation::make(folder);
        if (!why.isEmpty()) {
            m_boxes.say(QStringLiteral("Cannot create the folder '%1': %2").arg(folder, why));
            return false;
        }
    }
    // The lock first: nothing else is made in the folder before it is held.
    QString unwritable;
    const QString refusal = m_files.lockFolder(text, true, &unwritable);
    if (!refusal.isEmpty() || !unwritable.isEmpty()) {
        m_boxes.say(!refusal.isEmpty()
                        ? refusal
                        : QStringLiteral("Cannot write into the folder '%1': %2").arg(folder, unwritable));
        return false;
    }
    m_view.setOutputFolderText(text);
    return true;
}

int Run::statusSince(qsizetype first) const {
    int status = CommandLine::AllWritten;
    for (qsizetype i = first; i < m_boxes.shown().size(); ++i) {
        const ConsoleBoxes::Shown& box = m_boxes.shown().at(i);
        // Contacts without a chat in this history keep their transcripts, and a file the export does not
        // hold was never there to be saved: nothing was to be written.
        if (box.text == QLatin1String("Done.") || box.text.startsWith(ExportRun::withoutChatHeading()) ||
            SharedFiles::isLackingMessage(box.text))
            continue;
        // The folder is gone, full or refuses writing: the rest cannot be written either.
        if (TranscriptFiles::isStopMessage(box.text)) {
            status = CommandLine::Failed;
            continue;
        }
        // Error reports and transcripts left as they were: some of the work is not done.
        if (box.icon == MessageBoxes::Icon::Warning)
            status = qMax<int>(status, CommandLine::SomeKept);
        else // the folder is gone or busy, or no history: none of it was done
            status = CommandLine::Failed;
    }
    return status;
}

int Run::contacts(Console& console) {
    if (!openHistory() || !listContacts())
        return CommandLine::Failed;
    for (const QString& row : m_view.rows())
        console.out(CommandLine::escapedHandle(row) + QLatin1Char('\n'));
    return CommandLine::AllWritten;
}

// The chats the contacts' pass counts: every chat but the groups, which it only passes over (and
// which --group-chats counts in a pass of their own). With the group chats the history is told both
// passes' chats before the first, so that it reads the table once for them. Nothing where the chats
// cannot be told apart: the pass then counts every chat it asks for.
std::optional<std::vector<int>> Run::planPasses() {
    // Telling the groups apart asks for every chat, which is no progress: a line counting planned
    // chats, with none planned yet, is not moved by it. The contacts' pass begins its own.
    m_progress.begin(QStringLiteral("chats"), ProgressLine::Counting::PlannedChats);
    try {
        const std::shared_ptr<SkypeRoot> root = m_connector.createRoot();
        const int count = qMax(root->chats()->count(), 0);
        const std::vector<int> groups = GroupChatExport::groupsOf(*root);
        std::vector<int> contactsChats;
        for (int chat = 1; chat <= count; ++chat) {
            if (!std::binary_search(groups.begin(), groups.end(), chat))
                contactsChats.push_back(chat);
        }
        if (m_options.groupChats) {
            std::vector<int> plan(static_cast<size_t>(count));
            std::iota(plan.begin(), plan.end(), 1);
            plan.insert(plan.end(), groups.begin(), groups.end());
            try {
                root->chats()->willRead(plan);
            } catch (...) {
                // only a hint: each pass tells its own chats
            }
        }
        return contactsChats;
    } catch (...) {
        return std::nullopt;
    }
}

int Run::exportTranscripts() {
    if (!openHistory() || !listContacts() || !tickContacts() || !prepareFolder())
        return CommandLine::Failed;
    const qsizetype first = m_boxes.shown().size();
    if (m_options.groupChats || m_options.sharedFiles)
        m_boxes.holdDone();
    const std::unique_ptr<SharedFiles> shared =
        m_options.sharedFiles ? std::make_unique<SharedFiles>(m_services.files) : nullptr;
    // A group whose messages the contacts' pass could not count is reported once, by that pass.
    std::set<int> uncounted;
    if (m_options.older) {
        m_view.selectDateRange(m_options.from.has_value());
        if (m_options.from) {
            m_view.setDateFrom(*m_options.from);
            m_view.setDateTo(*m_options.to);
        }
        m_progress.begin(QStringLiteral("contacts"), ProgressLine::Counting::Rows);
        m_progress.setTotal(m_view.rowCount());
        m_view.onRow = [this](int row) { m_progress.setDone(row - 1); };
        LegacyExport(m_view, m_services).run(m_files);
        m_view.onRow = nullptr;
    } else {
        const std::optional<std::vector<int>> counted = planPasses();
        m_progress.begin(QStringLiteral("chats"));
        if (counted)
            m_progress.countOnly(*counted);
        ExportRun contacts(m_view, m_services);
        contacts.shareFilesInto(shared.get(), false);
        contacts.run(m_files);
        uncounted = contacts.uncountedChats();
    }
    m_progress.clear();
    int status = statusSince(first);
    if (m_options.groupChats && status != CommandLine::Failed) {
        const qsizetype groupsFirst = m_boxes.shown().size();
        m_progress.begin(QStringLiteral("group chats"), ProgressLine::Counting::PlannedChats);
        m_files.forgetKept();
        GroupChatExport groups(m_view, m_services);
        groups.setUncounted(std::move(uncounted));
        groups.shareFilesInto(shared.get());
        groups.run(m_files);
        m_progress.clear();
        status = qMax(status, statusSince(groupsFirst));
    }
    // After every pass, so that the export is passed over once for all of them, before "Done.".
    if (shared && status != CommandLine::Failed) {
        const qsizetype sharedFirst = m_boxes.shown().size();
        ErrorTrap trap(m_boxes, AppInfo::location(QStringLiteral("SharedFiles")));
        trap.step(100, [&] { shared->save(trap, m_boxes, m_files); });
        status = qMax(status, statusSince(sharedFirst));
    }
    m_boxes.releaseDone();
    for (const QString& path : m_boxes.kept())
        m_boxes.say(QStringLiteral("kept as it was: ") + path);
    return status;
}

} // namespace

CommandLine::CommandLine(Console& console, const SettingsStore& userSettings)
    : m_console(console)
    , m_userSettings(userSettings) {}

QString CommandLine::escapedHandle(const QString& handle) {
    QString line;
    line.reserve(handle.size());
    for (const QChar c : handle) {
        const char16_t code = c.unicode();
        if (code == u'\\')
            line += QLatin1String("\\\\");
        else if (code == u'\n')
            line += QLatin1String("\\n");
        else if (code == u'\r')
            line += QLatin1String("\\r");
        else if (code == 0)
            line += QLatin1String("\\0");
        // Other control characters, and the breaks Unicode adds, end a line in some terminals too.
        else if ((code < 0x20 && code != u'\t') || code == 0x7F || code == 0x85 || code == 0x2028 ||
                 code == 0x2029)
            line += QStringLiteral("\\u%1").arg(static_cast<int>(code), 4, 16, QLatin1Char('0'));
        else
            line += c;
    }
    return line;
}

QString CommandLine::lowerCaseEscapes(const QString& text) {
    QString line = text;
    for (qsizetype at = 0; at + 1 < line.size(); ++at) {
        if (line.at(at) != QLatin1Char('\\'))
            continue;
        // "\\u0041" is a backslash and "u0041": only a \u that no backslash escapes starts digits.
        if (line.at(at + 1) == QLatin1Char('u')) {
            for (qsizetype digit = at + 2; digit < qMin(at + 6, line.size()); ++digit) {
                if (line.at(digit) >= QLatin1Char('A') && line.at(digit) <= QLatin1Char('F'))
                    line[digit] = line.at(digit).toLower();
            }
        }
        ++at;
    }
    return line;
}

QString CommandLine::version() {
    return QStringLiteral(PARLORIX_VERSION);
}

QString CommandLine::usage() {
    return QStringLiteral(
        "Usage: parlorix-cli contacts [--history PATH]...\n"
        "       parlorix-cli export --out DIR [--history PATH]... [--contact HANDLE]...\n"
        "                           [--older [--from DATE --to DATE]] [--group-chats] [--shared-files]\n"
        "                           [--quiet]\n"
        "       parlorix-cli histories\n"
        "       parlorix-cli --help | --version\n"
        "\n"
        "Saves Skype chat histories as plain text transcripts, exactly as the Parlorix Suite window\n"
        "writes them.\n"
        "\n"
        "Commands:\n"
        "  contacts           print the contacts the window lists, one a line\n"
        "  export             write the transcripts of the contacts named (of every contact when none\n"
        "                     is) into DIR, as \"3. Save Checked Chat Histories\" does\n"
        "  histories          print the Skype histories found on this machine, one path a line\n"
        "\n"
        "Options:\n"
        "  --history PATH     the main.db, profile folder, messages.json or export .tar to read;\n"
        "                     given again, the histories are read as one (each message once);\n"
        "                     by default PARLORIX_SKYPE_DATA, else the history dropped onto the\n"
        "                     window, else the newest Skype profile\n"
        "  --out DIR          the folder the transcripts go to; made when missing\n"
        "  --contact HANDLE   only this contact; may be given again\n"
        "  --older            the older export (\"Old 3.\"): every chat whose name holds the handle\n"
        "  --from DATE        with --older and --to: only the chats stamped from DATE to DATE, both\n"
        "  --to DATE          included; ISO 8601 dates (2021-08-31, its midnight) or date-times\n"
        "                     (2021-08-31T15:42:10) in local time\n"
        "  --group-chats      also write every group chat into DIR/Group chats, one file a chat,\n"
        "                     named after its topic\n"
        "  --shared-files     also save the photos, documents, videos and voice messages a Skype\n"
        "                     export holds for the chats written, into DIR/Shared files/<contact>/\n"
        "                     (a group's into DIR/Group chats/Shared files/<group>/)\n"
        "  --quiet            no progress line\n"
        "  -h, --help         show this help and exit\n"
        "  -V, --version      show the version and exit\n"
        "\n"
        "Boxes the window would show are written to standard error, one line each.\n"
        "Exit status: 0 every transcript was written; 1 some were left as they were (the last lines\n"
        "name them), or 'histories' found none; 2 the history cannot be read, the folder cannot be\n"
        "written, or the options are wrong. The window's settings are never changed.\n");
}

std::optional<QString> CommandLine::notUtf8Argument(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        const QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes)
            return text;
    }
    return std::nullopt;
}

int CommandLine::run(const QStringList& arguments) {
    int status = Failed;
    try {
        status = runCommand(arguments);
    } catch (...) {
        // The handlers trap their own steps; whatever still gets here ends the run with its reason
        // instead of aborting, and the locks are let go on the way out.
        m_console.err(QStringLiteral("parlorix-cli: ") + ErrorTrap::describe(std::current_exception()) +
                      QLatin1Char('\n'));
        return Failed;
    }
    if (!m_console.outFailed())
        return status;
    // A reader that has all it wanted (`| head -1`) needs no word about the rest.
    if (!m_console.outClosed())
        m_console.err(QStringLiteral("parlorix-cli: Cannot write standard output\n"));
    return Failed;
}

int CommandLine::runCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption history(QStringLiteral("history"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption contact(QStringLiteral("contact"), QString(), QStringLiteral("HANDLE"));
    const QCommandLineOption older(QStringLiteral("older"));
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption groupChats(QStringLiteral("group-chats"));
    const QCommandLineOption sharedFiles(QStringLiteral("shared-files"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption showVersion(QStringList{QStringLiteral("V"), QStringLiteral("version")});
    for (const QCommandLineOption& option :
         {history, out, contact, older, from, to, groupChats, sharedFiles, quiet, help, showVersion})
        parser.addOption(option);

    const auto wrong = [&](const QString& why) {
        m_console.err(QStringLiteral("parlorix-cli: ") + why + QStringLiteral("\n\n") + usage());
        return Failed;
    };
    if (!parser.parse(arguments))
        return wrong(parser.errorText());
    if (parser.isSet(help)) {
        m_console.out(usage());
        return AllWritten;
    }
    if (parser.isSet(showVersion)) {
        m_console.out(QStringLiteral("parlorix-cli ") + version() + QLatin1Char('\n'));
        return AllWritten;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return wrong(QStringLiteral("no command given"));
    if (positional.size() > 1)
        return wrong(QStringLiteral("unexpected argument '%1'").arg(positional.at(1)));

    Options options;
    options.command = positional.first();
    const QStringList commands{QStringLiteral("contacts"), QStringLiteral("export"),
                               QStringLiteral("histories")};
    if (!commands.contains(options.command))
        return wrong(QStringLiteral("unknown command '%1'").arg(options.command));
    // What each command takes besides --help and --version.
    QList<QCommandLineOption> allowed{quiet};
    if (options.command != QLatin1String("histories"))
        allowed.append(history);
    if (options.command == QLatin1String("export"))
        allowed += {out, contact, older, from, to, groupChats, sharedFiles};
    for (const QString& name : parser.optionNames()) {
        bool fits = name == QLatin1String("h") || name == QLatin1String("help") ||
                    name == QLatin1String("V") || name == QLatin1String("version");
        for (const QCommandLineOption& option : allowed)
            fits = fits || option.names().contains(name);
        if (!fits)
            return wrong(QStringLiteral("'--%1' does not go with '%2'").arg(name, options.command));
    }
    for (const QCommandLineOption& single : {out, from, to}) {
        if (parser.values(single).size() > 1)
            return wrong(QStringLiteral("'--%1' is given more than once").arg(single.names().first()));
    }
    options.histories = parser.values(history);
    if (options.histories.contains(QString()))
        return wrong(QStringLiteral("'--history' names no path"));
    options.out = parser.value(out);
    options.contacts = parser.values(contact);
    options.older = parser.isSet(older);
    options.groupChats = parser.isSet(groupChats);
    options.sharedFiles = parser.isSet(sharedFiles);
    options.quiet = parser.isSet(quiet);
    if (options.command == QLatin1String("export")) {
        if (!parser.isSet(out) || options.out.isEmpty())
            return wrong(QStringLiteral("'export' needs '--out DIR'"));
        // The older export writes chats by their names, not the files in them.
        if (options.sharedFiles && options.older)
            return wrong(QStringLiteral("'--shared-files' does not go with '--older'"));
        if ((parser.isSet(from) || parser.isSet(to)) && !options.older)
            return wrong(QStringLiteral("'--from' and '--to' go with '--older'"));
        if (parser.isSet(from) != parser.isSet(to))
            return wrong(QStringLiteral("'--from' and '--to' go together"));
        if (parser.isSet(from)) {
            const DateOption first = parseDate(parser.value(from));
            const DateOption last = parseDate(parser.value(to));
            options.from = first.value;
            options.to = last.value;
            for (const auto& [name, option] :
                 {std::pair{QStringLiteral("from"), first}, std::pair{QStringLiteral("to"), last}}) {
                if (option.skipped)
                    return wrong(QStringLiteral("'--%1' names %2, a local time that does not exist here: "
                                                "the clocks skip it when they are put forward; give a "
                                                "time before or after the skip")
                                     .arg(name, parser.value(name)));
                const std::optional<QDateTime>& value = option.value;
                if (!value || *value < kEarliestDate || *value > kLatestDate)
                    return wrong(QStringLiteral("'--%1' takes an ISO 8601 date or date-time from 1601 to "
                                                "9999, such as 2021-08-31 or 2021-08-31T15:42:10")
                                     .arg(name));
            }
            if (*options.from > *options.to)
                return wrong(QStringLiteral("'--from' is later than '--to'"));
        }
    }

    if (options.command == QLatin1String("histories")) {
        // Each of several read as one on a line of its own.
        QStringList found;
        const QString named = qEnvironmentVariable("PARLORIX_SKYPE_DATA");
        if (!named.isEmpty())
            found += HistorySource::splitPaths(named);
        const QString dropped = GetSetting(m_userSettings, Settings::application(), Settings::section(),
                                           Settings::skypeHistoryKey(), QString());
        if (!dropped.isEmpty())
            found += HistorySource::splitPaths(dropped);
        found += HistorySource::profiles(HistorySource::profileRoots());
        found.removeDuplicates();
        // Silence would read as a search that went well.
        if (found.isEmpty()) {
            m_console.err(QStringLiteral("parlorix-cli: No Skype history was found on this machine\n"));
            return NothingFound;
        }
        for (const QString& path : found)
            m_console.out(path + QLatin1Char('\n'));
        return AllWritten;
    }
    Run run(m_console, m_userSettings, m_link, m_files, options);
    return options.command == QLatin1String("contacts") ? run.contacts(m_console) : run.exportTranscripts();
}
