#pragma once

#include "fakes/FakeFileSystem.h"
#include "fakes/FakeFolderBrowser.h"
#include "fakes/FakeMessageBoxes.h"
#include "fakes/FakeRandom.h"
#include "fakes/FakeShell.h"
#include "fakes/FakeSkype.h"
#include "fakes/MemorySettingsStore.h"

#include "app/Form1.h"

#include <QTemporaryDir>

#include <memory>

// The real main window on fakes, with a program folder of its own.
class TestWindow {
public:
    TestWindow();

    // Creates the window and runs its start-up.
    Form1& load();
    Form1& form() { return *m_form; }
    Services services();
    QString programFolder() const;

    template <typename Widget> Widget* find(const char* name) {
        return m_form->findChild<Widget*>(QString::fromLatin1(name));
    }
    void click(const char* button);

    FakeMessageBoxes boxes;
    FakeShell shell;
    MemorySettingsStore settings;
    FakeFolderBrowser browser;
    FakeSkype skype;
    FakeRandom random;
    FakeFileSystem files;

private:
    QTemporaryDir m_programDir;
    std::unique_ptr<Form1> m_form;
};
