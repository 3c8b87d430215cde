#pragma once

class MainView;
struct Services;

// The contact check-list: listing the contacts of the Skype history, and ticking or clearing them all.
class ContactList final {
public:
    ContactList(MainView& view, Services& services);

    // "1. List Contacts In Skype": appends every non-empty handle, unticked.
    void listContacts();
    void checkAll();
    void uncheckAll();

private:
    void setAllChecks(bool checked, const char* handler);

    MainView& m_view;
    Services& m_services;
};
