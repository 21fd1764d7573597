// frmDovezurad's context menu, opened by a right click on its frames, the Menu key or
// Shift+F10, and its shortcuts: a preview of what a run would change, and undo of the last run.
#include "frmdovezurad.h"

#include "cmdcambiar.h"
#include "fileerror.h"
#include "filelist.h"
#include "folderlist.h"
#include "lastrunundo.h"
#include "messageboxes.h"
#include "nativepaths.h"
#include "rewritepreview.h"
#include "undotexts.h"

#include <QContextMenuEvent>
#include <QKeyEvent>

#include <array>
#include <new>
#include <string>
#include <vector>

namespace {

const QKeySequence kVerCambiosKeys(Qt::CTRL | Qt::SHIFT | Qt::Key_V);
const QKeySequence kDeshacerKeys(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);

// The window's line end, as in its other messages.
std::string namesAfter(std::string text, const std::vector<std::string> &names)
{
    for (const std::string &name : names)
        text += "\r\n" + NativePaths::displayName(name).toStdString();
    return text;
}

} // namespace

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
    const Cierres cierres = readCierres(m_operations);
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
    // Locked while it works, and given back as after a run.
    for (Control control : kUnlockedAfterRun)
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
    for (Control control : kUnlockedAfterRun)
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
