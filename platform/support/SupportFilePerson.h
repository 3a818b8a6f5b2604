#pragma once

#include <QString>
#include <functional>

// The contact person of a support file, kept in HKEY_CURRENT_USER under ContactKey.
class SupportFilePerson
{
public:
    QString Name;
    QString Company;
    QString Email;
    QString Telephone;
    QString CustomerID; // the customer identifier (ORVUID)

    static constexpr const char* ContactKey = "Software\\Orvane\\Support\\Contact";

    // Reads the stored details; missing values read as empty.
    void Load();
    // Raises ToolError when the registry cannot be written.
    void Save() const;

    bool HasValidEmail() const { return IsValidEmail(Email); }
    // One "@" with a non-empty local part and a dotted domain, no blanks or control characters.
    static bool IsValidEmail(const QString& address);

    // Shows the contact-details editor (installed by the widgets library); true when the
    // operator confirmed, the details being stored then. Without an editor the answer is false.
    bool EditPersonalDetails(bool modal, qint32& backColour);

    // Edits the person in place; true when confirmed.
    using EditorHook =
        std::function<bool(SupportFilePerson& person, bool modal, qint32 backColour)>;
    static void SetEditorHook(EditorHook hook);
    static EditorHook CurrentEditorHook();
};
