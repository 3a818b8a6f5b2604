#include "platform/support/SupportFileGenerator.h"
#include "platform/support/SupportFilePerson.h"
#include "platform/support/widgets/ContactDialog.h"
#include "platform/system/ScriptedAnswerer.h"
#include "tests/support/TempHome.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

TEST(ContactDialogTest, OkNeedsAValidEmailAndTheInstalledEditorKeepsTheDetails)
{
    TempHome home;
    ScriptedAnswerer answers(
        [](const MessageBoxRequest& r) { ADD_FAILURE() << "box: " << r.Prompt.toStdString(); });
    const auto savedEditor = SupportFilePerson::CurrentEditorHook();
    const auto savedSave = SupportFileGenerator::CurrentSaveLocationHook();
    ContactDialog::Install();

    SupportFilePerson person;
    person.Name = "Pat";
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<ContactDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->txtName->text(), "Pat");
        dialog->txtEmail->setText("pat at station");
        answers.Expect(MsgBoxResult::OK);
        dialog->accept(); // refused: the address is not valid
        EXPECT_TRUE(dialog->isVisible());
        ASSERT_EQ(answers.Shown().size(), 1);
        EXPECT_EQ(answers.Shown()[0].Prompt, "You must enter a valid email address");
        dialog->txtEmail->setText(" pat@station.example ");
        dialog->txtTelephone->setText("0123 456");
        dialog->accept();
    });
    qint32 colour = qint32(0x8000000F);
    EXPECT_TRUE(person.EditPersonalDetails(true, colour));
    EXPECT_EQ(person.Email, "pat@station.example");
    EXPECT_EQ(person.Telephone, "0123 456");

    QTimer::singleShot(0, [] {
        if (auto* dialog = qobject_cast<ContactDialog*>(QApplication::activeModalWidget())) {
            dialog->txtEmail->setText("other@station.example");
            dialog->reject();
        }
    });
    EXPECT_FALSE(person.EditPersonalDetails(true, colour));
    EXPECT_EQ(person.Email, "pat@station.example");
    SupportFilePerson::SetEditorHook(savedEditor);
    SupportFileGenerator::SetSaveLocationHook(savedSave);
}
