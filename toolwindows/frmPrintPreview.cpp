#include "toolwindows/frmPrintPreview.h"

#include "framework/DebugLog.h"
#include "platform/richtext/RtfReader.h"
#include "platform/richtext/RtfWriter.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/SaveWhole.h"
#include "platform/system/TextFileDecoder.h"
#include "toolwindows/RichTextConversion.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QToolBar>
#include <QVBoxLayout>

frmPrintPreview::frmPrintPreview(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Print Preview"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);

    imgIcons.insert(QStringLiteral("print"), QIcon::fromTheme(QStringLiteral("document-print")));
    imgIcons.insert(QStringLiteral("tick"), style()->standardIcon(QStyle::SP_DialogApplyButton));
    imgIcons.insert(QStringLiteral("disk"), style()->standardIcon(QStyle::SP_DialogSaveButton));
    imgIcons.insert(QStringLiteral("refresh"), style()->standardIcon(QStyle::SP_BrowserReload));

    toolButtons = new QToolBar(this);
    toolButtons->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    struct ButtonSpec
    {
        const char* key;
        const char* caption;
        const char* toolTip;
        const char* picture;
    };
    static constexpr ButtonSpec kButtons[] = {
        {"savesep", nullptr, nullptr, nullptr},
        {"save", "", "Save this information", "disk"},
        {"refreshsep", nullptr, nullptr, nullptr},
        {"refresh", "", "Refresh this Information", "refresh"},
        {"printsep", nullptr, nullptr, nullptr},
        {"print", "Print", "Print this information", "print"},
    };
    for (const ButtonSpec& button : kButtons) {
        QAction* action = nullptr;
        if (!button.caption) {
            action = toolButtons->addSeparator();
        } else {
            action = toolButtons->addAction(imgIcons.value(QString::fromLatin1(button.picture)),
                                            QString::fromLatin1(button.caption));
            action->setToolTip(QString::fromLatin1(button.toolTip));
            if (!*button.caption) {
                action->setIconText(QString());
            }
        }
        action->setObjectName(QString::fromLatin1(button.key));
    }
    connect(toolButtons, &QToolBar::actionTriggered, this,
            [this](QAction* action) { toolButtons_ButtonClick(action->objectName()); });

    rtfFile = new QTextEdit(this);
    rtfFile->setReadOnly(true);
    rtfFile->setAcceptRichText(true);
    rtfFile->setLineWrapMode(QTextEdit::WidgetWidth);
    rtfFile->setFont(QFont(QStringLiteral("Arial"), 10));
    rtfFile->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    connect(cmdOK, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 4);
    layout->addWidget(toolButtons);
    layout->addWidget(rtfFile, 1);
    layout->addLayout(buttons);

    AskSaveFileName = [this](const QString& title, const QString& filter,
                             const QString& proposedName) {
        return DefaultAskSaveFileName(title, filter, proposedName);
    };
    AskPrinter = [this](QPrinter& printer, bool offerSelection, bool& selectionChosen) {
        return DefaultAskPrinter(printer, offerSelection, selectionChosen);
    };

    // Load: centred across, a third of the free height down.
    resize(640, 480);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 3);
    }
    Button(QStringLiteral("print"))->setEnabled(!QPrinterInfo::availablePrinters().isEmpty());
}

QAction* frmPrintPreview::Button(const QString& key) const
{
    for (QAction* action : toolButtons->actions()) {
        if (action->objectName() == key) {
            return action;
        }
    }
    return nullptr;
}

void frmPrintPreview::DisplayText(QString Information, QString Caption, qint32 Modal,
                                  bool& Floating)
{
    setWindowTitle(Caption.isEmpty() ? QStringLiteral("Print Preview") : Caption);
    rtfFile->clear();
    RichTextConversion::ResetTabDistance(rtfFile->document());
    rtfFile->setPlainText(Information);
    rtfFile->moveCursor(QTextCursor::Start);
    ShowWindow(Modal, Floating);
}

void frmPrintPreview::DisplayFile(QString FileName, QString Caption, qint32 Modal, bool& Floating)
{
    if (FileFunctions::instance().GetFileSize(FileName) < 0) {
        return;
    }
    m_currentFile = FileName;
    setWindowTitle(Caption.isEmpty() ? QStringLiteral("Print Preview - ") + FileName : Caption);
    Refresh();
    ShowWindow(Modal, Floating);
}

void frmPrintPreview::ShowWindow(qint32 modal, bool floating)
{
    if (floating) {
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    if (modal == 1) {
        setWindowModality(Qt::ApplicationModal);
        exec();
        ClearOnClose();
    } else {
        setWindowModality(Qt::NonModal);
        show();
    }
}

void frmPrintPreview::toolButtons_ButtonClick(const QString& key)
{
    if (key == QLatin1String("refresh")) {
        Refresh();
    } else if (key == QLatin1String("print")) {
        Print();
    } else if (key == QLatin1String("save")) {
        Save();
    }
}

void frmPrintPreview::Refresh()
{
    rtfFile->clear();
    RichTextConversion::ResetTabDistance(rtfFile->document());
    if (FileFunctions::instance().GetFileSize(m_currentFile) > 0) {
        QFile file(m_currentFile);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            // What is not rich text is shown as plain text.
            if (const std::optional<RtfDocument> document = RtfReader::Read(bytes)) {
                RichTextConversion::Fill(rtfFile->document(), *document);
            } else {
                QString text = TextFileDecoder::Decode(bytes);
                text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
                rtfFile->setPlainText(text);
            }
        }
    }
    rtfFile->moveCursor(QTextCursor::Start);
}

void frmPrintPreview::Print()
{
    QPrinter printer(QPrinter::HighResolution);
    bool selectionChosen = false;
    if (!AskPrinter(printer, rtfFile->textCursor().hasSelection(), selectionChosen)) {
        return;
    }
    if (!selectionChosen) {
        rtfFile->moveCursor(QTextCursor::Start);
    }

    // Text that sets no font of its own prints in Courier.
    QTextDocument printed;
    printed.setDefaultFont(QFont(QStringLiteral("Courier"), 10));
    const QTextCursor selection = rtfFile->textCursor();
    QTextCursor(&printed).insertFragment(selection.hasSelection()
                                             ? selection.selection()
                                             : QTextDocumentFragment(rtfFile->document()));
    printed.print(&printer);
    if (printer.printerState() == QPrinter::Error || printer.printerState() == QPrinter::Aborted) {
        ShowProblemMessage(QStringLiteral("while printing."),
                           QStringLiteral("The printer could not print the document."), false);
    }
}

void frmPrintPreview::Save()
{
    const QString fileName = AskSaveFileName(
        QStringLiteral("Select File to Save to"),
        QStringLiteral("Rich Text Files (*.rtf);;Text files (*.txt);;All Files (*)"),
        FileFunctions::instance().GetFileName(m_currentFile));
    if (fileName.isEmpty()) {
        return;
    }
    // The typed extension decides, whatever filter was chosen.
    QByteArray bytes;
    if (FileFunctions::instance().GetExtensionName(fileName).toLower() == QLatin1String("rtf")) {
        const QFont font = rtfFile->document()->defaultFont();
        bytes = RtfWriter::Write(RichTextConversion::FromTextDocument(rtfFile->document()),
                                 font.family(), font.pointSizeF());
    } else {
        bytes = rtfFile->toPlainText().toUtf8();
    }
    // Written whole or not at all, so a failed save never leaves half a file.
    QSaveFile file(fileName);
    QString reason;
    bool saved = file.open(QIODevice::WriteOnly);
    if (!saved) {
        reason = file.errorString();
    } else {
        const Result<> written = SaveWhole(file, bytes);
        saved = written.Ok();
        reason = written.Reason();
    }
    if (!saved) {
        ShowProblemMessage(QStringLiteral("while saving to ") + fileName + u'.', reason, false);
    }
}

QString frmPrintPreview::DefaultAskSaveFileName(const QString& title, const QString& filter,
                                                const QString& proposedName)
{
    QFileDialog dialog(this, title, proposedName, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectNameFilter(filter.section(QStringLiteral(";;"), 0, 0));
    // Choosing the filter put its suffix on the name; the file's own name is the proposal.
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return QString();
    }
    return dialog.selectedFiles().constFirst();
}

bool frmPrintPreview::DefaultAskPrinter(QPrinter& printer, bool offerSelection,
                                        bool& selectionChosen)
{
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("Print Document"));
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, offerSelection);
    if (offerSelection) {
        dialog.setPrintRange(QAbstractPrintDialog::Selection);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    selectionChosen = offerSelection && dialog.printRange() == QAbstractPrintDialog::Selection;
    return true;
}

void frmPrintPreview::ClearOnClose()
{
    // Changing the flag hides the window, which is closing anyway.
    if (windowFlags() & Qt::WindowStaysOnTopHint) {
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
    }
    m_currentFile.clear();
    rtfFile->clear();
}

void frmPrintPreview::closeEvent(QCloseEvent* event)
{
    ClearOnClose();
    QDialog::closeEvent(event);
}

void frmPrintPreview::done(int result)
{
    ClearOnClose();
    QDialog::done(result);
}
