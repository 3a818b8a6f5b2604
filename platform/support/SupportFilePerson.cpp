#include "platform/support/SupportFilePerson.h"

#include "platform/system/MessageBox.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/ToolError.h"

#include <QRegularExpression>

namespace {

SupportFilePerson::EditorHook& editorHook()
{
    static SupportFilePerson::EditorHook hook;
    return hook;
}

const QString kName = QStringLiteral("Name");
const QString kCompany = QStringLiteral("Company");
const QString kEmail = QStringLiteral("Email");
const QString kTelephone = QStringLiteral("Telephone");
const QString kCustomerID = QStringLiteral("ORVUID");

} // namespace

void SupportFilePerson::Load()
{
    const RegistryFunctions& registry = RegistryFunctions::instance();
    const QString key = QString::fromLatin1(ContactKey);
    Name = registry.ReadString(Hive::CurrentUser, key, kName, QString());
    Company = registry.ReadString(Hive::CurrentUser, key, kCompany, QString());
    Email = registry.ReadString(Hive::CurrentUser, key, kEmail, QString());
    Telephone = registry.ReadString(Hive::CurrentUser, key, kTelephone, QString());
    CustomerID = registry.ReadString(Hive::CurrentUser, key, kCustomerID, QString());
}

void SupportFilePerson::Save() const
{
    const RegistryFunctions& registry = RegistryFunctions::instance();
    const QString key = QString::fromLatin1(ContactKey);
    // Line breaks would split the INI line and lose the rest of the value.
    auto oneLine = [](const QString& text) { return text.simplified(); };
    registry.WriteString(Hive::CurrentUser, key, kName, oneLine(Name));
    registry.WriteString(Hive::CurrentUser, key, kCompany, oneLine(Company));
    registry.WriteString(Hive::CurrentUser, key, kEmail, oneLine(Email));
    registry.WriteString(Hive::CurrentUser, key, kTelephone, oneLine(Telephone));
    registry.WriteString(Hive::CurrentUser, key, kCustomerID, oneLine(CustomerID));
}

bool SupportFilePerson::IsValidEmail(const QString& address)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^[^@\s]+@[^@\s.]+(\.[^@\s.]+)+$)"));
    for (const QChar c : address) {
        if (c.category() == QChar::Other_Control) {
            return false;
        }
    }
    return pattern.match(address.trimmed()).hasMatch();
}

bool SupportFilePerson::EditPersonalDetails(bool modal, qint32& backColour)
{
    const EditorHook hook = editorHook();
    if (!hook) {
        return false;
    }
    SupportFilePerson edited = *this;
    if (!hook(edited, modal, backColour)) {
        return false;
    }
    Name = edited.Name.trimmed();
    Company = edited.Company.trimmed();
    Email = edited.Email.trimmed();
    Telephone = edited.Telephone.trimmed();
    CustomerID = edited.CustomerID.trimmed();
    try {
        Save();
    } catch (const ToolError& error) {
        // The details still serve this run; only their keeping failed.
        MessageBox::Show(QStringLiteral("Your personal details could not be stored: ") +
                             error.Description(),
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
    }
    return true;
}

void SupportFilePerson::SetEditorHook(EditorHook hook)
{
    editorHook() = std::move(hook);
}

SupportFilePerson::EditorHook SupportFilePerson::CurrentEditorHook()
{
    return editorHook();
}
