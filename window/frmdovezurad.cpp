#include "frmdovezurad.h"

#include "cmdcambiar.h"
#include "delimitersets.h"
#include "delimitervalidator.h"
#include "drivelist.h"
#include "fileerror.h"
#include "filelist.h"
#include "folderlist.h"
#include "keypressfilter.h"
#include "lastrunundo.h"
#include "messageboxes.h"
#include "nativepaths.h"
#include "rewritepreview.h"
#include "undotexts.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <vector>

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

const QKeySequence kVerCambiosKeys(Qt::CTRL | Qt::SHIFT | Qt::Key_V);
const QKeySequence kDeshacerKeys(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);

// What the undo locks, as the run does; File1 is display only and stays disabled.
constexpr std::array kLockedForUndo{Control::Dir1,           Control::Drive1,
                                    Control::txtCierreIz,    Control::txtCierreDer,
                                    Control::txtNewCierreIz, Control::txtNewCierreDer};

constexpr const char *kNotAllKept = "Aviso: esta ejecución no se podrá deshacer del todo (sin "
                                    "espacio o sin permiso para guardar los originales).";

// The window's line end, as in its other messages.
std::string namesAfter(std::string text, const std::vector<std::string> &names)
{
    for (const std::string &name : names)
        text += "\r\n" + NativePaths::displayName(name).toStdString();
    return text;
}

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

void frmDovezurad::setUpMenu()
{
    const std::array<
        std::tuple<QAction *, const char *, QString, QKeySequence, void (frmDovezurad::*)()>, 2>
        entries{{
            {&m_mnuVerCambios, "mnuVerCambios", QStringLiteral("Ver qué cambiaría…"),
             kVerCambiosKeys, &frmDovezurad::mnuVerCambios_Click},
            {&m_mnuDeshacer, "mnuDeshacer", QStringLiteral("Deshacer la última modificación…"),
             kDeshacerKeys, &frmDovezurad::mnuDeshacer_Click},
        }};
    for (const auto &[action, name, text, keys, handler] : entries) {
        action->setObjectName(QString::fromLatin1(name));
        action->setText(text);
        action->setShortcut(keys);
        action->setShortcutVisibleInContextMenu(true);
        // On the window, so that the keys work without the menu.
        addAction(action);
        m_mnuContexto.addAction(action);
        connect(action, &QAction::triggered, this, handler);
    }
    m_mnuContexto.setObjectName(QStringLiteral("mnuContexto"));
    m_mnuContexto.setFont(font()); // a popup is a window of its own, which fonts do not reach
    m_mnuContexto.setAccessibleName(QStringLiteral("Más acciones"));
    m_mnuVerCambios.setToolTip(QStringLiteral("Muestra qué cambiaría en cada script, sin tocarlo"));
    m_mnuDeshacer.setToolTip(
        QStringLiteral("Devuelve los scripts de esta carpeta a como estaban antes de la última "
                       "modificación"));
    // A delimiter field would take Ctrl+Mayús+Z as its own redo.
    for (QLineEdit *field :
         {&m_txtCierreIz, &m_txtCierreDer, &m_txtNewCierreIz, &m_txtNewCierreDer})
        field->installEventFilter(this);
    m_cmdCambiar.setToolTip(QStringLiteral(
        "Con clic derecho en la ventana, la tecla Menú o Mayús+F10: «Ver qué cambiaría…» "
        "(Ctrl+Mayús+V) y «Deshacer la última modificación…» (Ctrl+Mayús+Z)"));
}

bool frmDovezurad::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QKeySequence pressed(key->keyCombination());
        if (pressed == kVerCambiosKeys || pressed == kDeshacerKeys) {
            event->ignore();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmDovezurad::contextMenuEvent(QContextMenuEvent *event)
{
    if (event->reason() == QContextMenuEvent::Mouse) {
        showMenu(event->globalPos());
        return;
    }
    QWidget *focus = focusWidget() != nullptr ? focusWidget() : this;
    showMenu(focus->mapToGlobal(focus->rect().center()));
}

void frmDovezurad::keyPressEvent(QKeyEvent *event)
{
    // Windows sends both as a context menu event of their own; elsewhere they come as keys.
    const bool menuKey = event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier;
    const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if (!menuKey && !shiftF10) {
        QWidget::keyPressEvent(event);
        return;
    }
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    contextMenuEvent(&menu);
}

void frmDovezurad::showMenu(const QPoint &globalPos)
{
    if (m_runUnderWay)
        return;
    m_mnuContexto.popup(globalPos);
}

void frmDovezurad::mnuVerCambios_Click()
{
    // The dialog of a preview whose lines are still being read stays until they are.
    if (m_runUnderWay || (m_preview && m_preview->isBusy()))
        return;
    if (!readyToRun(m_operations))
        return;
    m_runUnderWay = true;
    const FileList &file1 = *m_browser.file1();
    std::vector<std::string> names;
    for (std::int32_t index = 0; index < file1.entryCount(); ++index)
        names.push_back(file1.nativeName(index));
    const Cierres cierres{m_operations.fieldText(Control::txtCierreIz),
                          m_operations.fieldText(Control::txtCierreDer),
                          m_operations.fieldText(Control::txtNewCierreIz),
                          m_operations.fieldText(Control::txtNewCierreDer)};
    m_preview = std::make_unique<PreviewDialog>(this, [this] {
        handlePendingEvents();
        return !m_closing;
    });
    m_preview->open();
    std::optional<std::string> failure;
    try {
        m_preview->walk(std::make_unique<RewritePreview>(m_operations.holdFolder()), names,
                        cierres);
    } catch (const FileError &error) {
        failure = error.what();
    } catch (const std::bad_alloc &) {
        failure = FileError::outOfMemory().what();
    }
    m_runUnderWay = false;
    if (failure && !m_closing) {
        m_preview->reject();
        m_operations.messageBox(*failure, MessageStyle::Ok, "");
    }
}

void frmDovezurad::mnuDeshacer_Click()
{
    if (m_runUnderWay)
        return;
    m_runUnderWay = true;
    undoLastRun();
    m_runUnderWay = false;
}

void frmDovezurad::undoLastRun()
{
    for (Control control : kLockedForUndo)
        m_operations.setEnabled(control, false);
    std::optional<std::string> message;
    try {
        LastRunUndo undo(m_operations.folderPath());
        const std::size_t count = undo.count();
        if (count == 0) {
            undo.restore(); // what an undo stopped before its end left in the record
            message = undotexts::kNothingToUndo;
        } else if (m_operations.messageBox(undotexts::question(count),
                                           MessageStyle::YesNoCancelWarning,
                                           "Advertencia") == MessageAnswer::Yes) {
            const std::vector<std::string> changed = undo.restore([this] {
                handlePendingEvents();
                return !m_closing;
            });
            if (undo.stopped())
                return; // the window is closing
            if (changed.empty() && undo.notKept().empty()) {
                message = undotexts::kRestored;
            } else {
                std::string text;
                if (!changed.empty())
                    text = namesAfter(
                        undotexts::changedSince(undo.restored(), count, changed.size()), changed);
                if (!undo.notKept().empty())
                    text += (text.empty() ? "" : "\r\n\r\n") +
                            namesAfter(
                                undotexts::notKept(undo.restored(), count, undo.notKept().size()),
                                undo.notKept());
                message = text;
            }
        }
    } catch (const FileError &error) {
        message = error.what();
    } catch (const std::bad_alloc &) {
        message = FileError::outOfMemory().what();
    }
    for (Control control : kLockedForUndo)
        m_operations.setEnabled(control, true);
    // File1 shows the folder as the undo left it.
    FileList &file1 = *m_browser.file1();
    try {
        if (!file1.folder().empty())
            file1.setFolder(file1.folder());
    } catch (const FileError &) {
        // The folder went away meanwhile; its watcher empties the list.
    }
    if (message)
        m_operations.messageBox(*message, MessageStyle::Ok, "");
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
