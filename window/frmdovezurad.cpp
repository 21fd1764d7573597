#include "frmdovezurad.h"

#include "cmdcambiar.h"
#include "delimitersets.h"
#include "delimitervalidator.h"
#include "drivelist.h"
#include "filelist.h"
#include "folderlist.h"
#include "keypressfilter.h"
#include "messageboxes.h"
#include "nativepaths.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <exception>
#include <stdexcept>
#include <tuple>

namespace {

// Where a control stands, in twips inside its parent's top left corner, and its tab index.
struct Place
{
    const char *name;
    int left;
    int top;
    int width;
    int height;
    int tabIndex;
};

constexpr Place kFraExplorador{"fraExplorador", 120, 120, 5175, 1935, 0};
constexpr Place kDrive1{"Drive1", 120, 240, 2415, 315, 2};
constexpr Place kDir1{"Dir1", 120, 600, 2415, 1215, 1};
constexpr Place kFile1{"File1", 2640, 240, 2415, 1590, 3};
constexpr Place kFraGenerar{"fraGenerar", 120, 2160, 5175, 1215, 4};
constexpr Place kLabel1{"Label1", 120, 360, 1695, 255, 8};
constexpr Place kTxtCierreIz{"txtCierreIz", 1920, 240, 495, 315, 5};
constexpr Place kLabel7{"Label7", 2520, 360, 255, 255, 7};
constexpr Place kTxtCierreDer{"txtCierreDer", 2760, 240, 495, 315, 6};
constexpr Place kLabel2{"Label2", 120, 720, 375, 255, 13};
constexpr Place kTxtNewCierreIz{"txtNewCierreIz", 1920, 720, 495, 315, 10};
constexpr Place kLabel3{"Label3", 2520, 840, 255, 255, 11};
constexpr Place kTxtNewCierreDer{"txtNewCierreDer", 2760, 720, 495, 315, 9};
constexpr Place kCmdCambiar{"cmdCambiar", 3480, 240, 1575, 735, 12};
constexpr Place kTxtScript{"txtScript", 120, 3840, 495, 285, 14};

// The frames keep this margin to the window's edges.
constexpr int kMarginTwips = 120;
constexpr int kTwipsPerPixel = 15;

constexpr int pixels(int twips)
{
    return twips / kTwipsPerPixel;
}

// The size of the font Windows dialogs of this kind use: every caption fits its box with it.
constexpr int kFontPixelSize = 11;
// Folder icons no taller than the text, so that Dir1's box shows five whole folders instead of
// four and a half.
constexpr int kFolderIconPixels = 12;

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const QString kLeftSet = fromUtf8(DelimiterSets::kLeftSet);
const QString kRightSet = fromUtf8(DelimiterSets::kRightSet);
const QString kLeftMessage = fromUtf8(DelimiterSets::kLeftMessage);
const QString kRightMessage = fromUtf8(DelimiterSets::kRightMessage);

constexpr int kEnter = 13;
constexpr int kBackspace = 8;

constexpr const char *kNotAllKept = "Aviso: esta ejecución no se podrá deshacer del todo (sin "
                                    "espacio o sin permiso para guardar los originales).";

} // namespace

frmDovezurad::frmDovezurad(MessageBoxes &messageBoxes, std::unique_ptr<DriveSource> drives,
                           const std::string &startFolder, QWidget *parent)
    : QWidget(parent), m_messageBoxes(messageBoxes),
      m_browser(std::move(drives), messageBoxes, &m_fraExplorador, startFolder)
{
    setObjectName(QStringLiteral("frmDovezurad"));
    setWindowTitle(QStringLiteral("Dovezurad"));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(kFontPixelSize);
    setFont(font);

    m_fraExplorador.setTitle(
        QStringLiteral("Ubicación de scripts a los que se modificarán etiquetas"));
    for (QLabel *label : {&m_label1, &m_label7, &m_label2, &m_label3})
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label1.setText(QStringLiteral("Cambiar etiquetas"));
    m_label7.setText(QStringLiteral("y"));
    m_label2.setText(QStringLiteral("Por"));
    m_label3.setText(QStringLiteral("y"));
    m_txtCierreIz.setText(QStringLiteral("{"));
    m_txtCierreDer.setText(QStringLiteral("}"));
    m_txtNewCierreIz.setText(QStringLiteral("<"));
    m_txtNewCierreDer.setText(QStringLiteral(">"));
    m_cmdCambiar.setText(QStringLiteral("Cambiar Etiquetas"));
    // Enter presses the focused button, as Space does.
    m_cmdCambiar.setAutoDefault(true);

    // The file list only shows what the run will rewrite; the working buffer is never seen.
    m_browser.file1()->setEnabled(false);
    m_txtScript.hide();
    m_browser.dir1()->setIconSize(QSize(kFolderIconPixels, kFolderIconPixels));

    placeControls();
    setUpDelimiterFields();
    setUpMenu();
    connect(&m_cmdCambiar, &QPushButton::clicked, this, &frmDovezurad::cmdCambiar_Click);
    Form_Load();
    describeForScreenReaders();
}

void frmDovezurad::placeControls()
{
    const std::array<std::pair<QWidget *, Place>, 15> controls{{
        {&m_fraExplorador, kFraExplorador},
        {m_browser.drive1(), kDrive1},
        {m_browser.dir1(), kDir1},
        {m_browser.file1(), kFile1},
        {&m_fraGenerar, kFraGenerar},
        {&m_label1, kLabel1},
        {&m_txtCierreIz, kTxtCierreIz},
        {&m_label7, kLabel7},
        {&m_txtCierreDer, kTxtCierreDer},
        {&m_label2, kLabel2},
        {&m_txtNewCierreIz, kTxtNewCierreIz},
        {&m_label3, kLabel3},
        {&m_txtNewCierreDer, kTxtNewCierreDer},
        {&m_cmdCambiar, kCmdCambiar},
        {&m_txtScript, kTxtScript},
    }};
    for (const auto &[widget, place] : controls) {
        widget->setObjectName(QString::fromLatin1(place.name));
        widget->setGeometry(pixels(place.left), pixels(place.top), pixels(place.width),
                            pixels(place.height));
    }
    // The client area holds both frames with the margin on every side.
    const int clientWidth = kFraExplorador.left + kFraExplorador.width + kMarginTwips;
    const int clientHeight = kFraGenerar.top + kFraGenerar.height + kMarginTwips;
    setFixedSize(pixels(clientWidth), pixels(clientHeight));

    // Tab order follows the tab indexes over the controls that can take the focus.
    auto byTabIndex = controls;
    std::sort(byTabIndex.begin(), byTabIndex.end(),
              [](const auto &a, const auto &b) { return a.second.tabIndex < b.second.tabIndex; });
    QWidget *previous = nullptr;
    for (const auto &[widget, place] : byTabIndex) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isEnabled() || widget->isHidden())
            continue;
        if (previous != nullptr)
            setTabOrder(previous, widget);
        else
            widget->setFocus();
        previous = widget;
    }
}

void frmDovezurad::setUpDelimiterFields()
{
    const std::array<std::pair<QLineEdit *, void (frmDovezurad::*)(int &)>, 4> fields{{
        {&m_txtCierreIz, &frmDovezurad::txtCierreIz_KeyPress},
        {&m_txtCierreDer, &frmDovezurad::txtCierreDer_KeyPress},
        {&m_txtNewCierreIz, &frmDovezurad::txtNewCierreIz_KeyPress},
        {&m_txtNewCierreDer, &frmDovezurad::txtNewCierreDer_KeyPress},
    }};
    for (const auto &[field, handler] : fields) {
        field->setMaxLength(1);
        field->setAlignment(Qt::AlignCenter);
        // An input method would hand over composed characters without a key event.
        field->setAttribute(Qt::WA_InputMethodEnabled, false);
        const bool left = field == &m_txtCierreIz || field == &m_txtNewCierreIz;
        field->setValidator(new DelimiterValidator(left ? kLeftSet : kRightSet, field));
        field->installEventFilter(new KeyPressFilter(
            [this, handler = handler](int &keyAscii) { (this->*handler)(keyAscii); }, field));
    }
}

void frmDovezurad::Form_Load()
{
    m_browser.setStrUltimaUnidad(NativePaths::fromQtPath(QCoreApplication::applicationDirPath()));
}

const std::string &frmDovezurad::strUltimaUnidad() const
{
    return m_browser.strUltimaUnidad();
}

void frmDovezurad::Form_Unload()
{
    // The rewrite closes each script before it returns, so no file is left open here. A run
    // under way sees isClosing() before its next script and returns to the event loop, which
    // ends with the window gone.
    m_closing = true;
}

void frmDovezurad::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmDovezurad::filterDelimiterKey(int &keyAscii, const QString &allowed, const QString &message)
{
    if (keyAscii == kEnter) {
        keyAscii = 0;
        focusNextChild();
        return;
    }
    if (keyAscii == kBackspace)
        return;
    if (allowed.contains(QChar(keyAscii)))
        return;
    m_messageBoxes.beep();
    m_messageBoxes.messageBox(this, message, MessageStyle::Ok, QString());
    keyAscii = 0;
}

void frmDovezurad::txtCierreIz_KeyPress(int &keyAscii)
{
    filterDelimiterKey(keyAscii, kLeftSet, kLeftMessage);
}

void frmDovezurad::txtCierreDer_KeyPress(int &keyAscii)
{
    filterDelimiterKey(keyAscii, kRightSet, kRightMessage);
}

void frmDovezurad::txtNewCierreIz_KeyPress(int &keyAscii)
{
    filterDelimiterKey(keyAscii, kLeftSet, kLeftMessage);
}

void frmDovezurad::txtNewCierreDer_KeyPress(int &keyAscii)
{
    filterDelimiterKey(keyAscii, kRightSet, kRightMessage);
}

void frmDovezurad::cmdCambiar_Click()
{
    if (m_runUnderWay)
        return;
    m_runUnderWay = true;
    try {
        ::cmdCambiar_Click(m_operations);
    } catch (const std::exception &error) {
        // Nothing of the window can be trusted after a failure the run does not report;
        // unwinding through Qt's event dispatch is not supported either.
        qFatal("%s", error.what());
    }
    // After the run's own final message, which stays as it is.
    if (m_operations.takeOriginalsNotKept() && !m_closing)
        m_operations.messageBox(kNotAllKept, MessageStyle::Ok, "");
    m_runUnderWay = false;
}

void frmDovezurad::handlePendingEvents()
{
    QCoreApplication::processEvents();
}

void frmDovezurad::describeForScreenReaders()
{
    setAccessibleDescription(
        QStringLiteral("Cambia los delimitadores de las etiquetas de los scripts de una carpeta"));
    // fraGenerar has no caption to be read out.
    m_fraGenerar.setAccessibleName(QStringLiteral("Delimitadores"));

    m_browser.drive1()->setAccessibleName(QStringLiteral("Unidad"));
    // Qt on Linux reads a drop-down list's current entry as its name; the role is said here.
    m_browser.drive1()->setAccessibleDescription(
        QStringLiteral("Unidad cuyas carpetas se muestran"));
    m_browser.dir1()->setAccessibleName(QStringLiteral("Carpeta"));
    m_browser.dir1()->setAccessibleDescription(
        QStringLiteral("La carpeta cuyos scripts se modificarán"));
    m_browser.file1()->setAccessibleName(QStringLiteral("Scripts de la carpeta"));
    m_browser.file1()->setAccessibleDescription(
        QStringLiteral("Los scripts que se modificarán, en el orden en que se modificarán"));

    // The captions "Cambiar etiquetas", "y", "Por", "y" mean little read alone; each field says
    // which delimiter it holds and, as its description, which characters it takes.
    const std::array<std::tuple<QLabel *, QLineEdit *, QString, const QString &>, 4> fields{{
        {&m_label1, &m_txtCierreIz, QStringLiteral("Delimitador izquierdo actual"), kLeftMessage},
        {&m_label7, &m_txtCierreDer, QStringLiteral("Delimitador derecho actual"), kRightMessage},
        {&m_label2, &m_txtNewCierreIz, QStringLiteral("Delimitador izquierdo nuevo"), kLeftMessage},
        {&m_label3, &m_txtNewCierreDer, QStringLiteral("Delimitador derecho nuevo"), kRightMessage},
    }};
    for (const auto &[label, field, name, allowed] : fields) {
        label->setBuddy(field);
        field->setAccessibleName(name);
        field->setAccessibleDescription(allowed);
    }

    m_cmdCambiar.setAccessibleDescription(QStringLiteral(
        "Cambia los delimitadores actuales por los nuevos en todos los scripts de la carpeta"));
}
