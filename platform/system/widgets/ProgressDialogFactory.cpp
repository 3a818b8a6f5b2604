#include "platform/system/widgets/ProgressDialogFactory.h"

#include <QPointer>
#include <QProgressDialog>
#include <QWidget>

namespace {

class ProgressDialogDisplay : public ProgressDisplay
{
public:
    ProgressDialogDisplay(const QString& caption, QWidget* parent)
        : m_dialog(new QProgressDialog(caption, QObject::tr("Cancel"), 0, 100, parent))
    {
        m_dialog->setWindowTitle(caption);
        m_dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        // Short copies finish before anything flashes up.
        m_dialog->setMinimumDuration(500);
        m_dialog->setValue(0);
    }

    ~ProgressDialogDisplay() override
    {
        if (m_dialog) {
            m_dialog->close();
            delete m_dialog.data();
        }
    }

    // A modal dialog's setValue processes events, so the Cancel button is heard.
    void SetPercent(int percent) override
    {
        if (m_dialog) {
            m_dialog->setValue(qBound(0, percent, 100));
        }
    }

    bool Cancelled() const override { return !m_dialog || m_dialog->wasCanceled(); }

private:
    QPointer<QProgressDialog> m_dialog;
};

} // namespace

void ProgressDialogFactory::Install()
{
    ProgressDisplay::SetFactory(&ProgressDialogFactory::Create);
}

std::unique_ptr<ProgressDisplay> ProgressDialogFactory::Create(const QString& caption,
                                                               QObject* owner)
{
    QWidget* parent = qobject_cast<QWidget*>(owner);
    return std::make_unique<ProgressDialogDisplay>(caption, parent);
}
