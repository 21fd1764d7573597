#include "frmdovezurad.h"

#include "cmdcambiar.h"
#include "delimitersets.h"
#include "delimitervalidator.h"
#include "drivelist.h"
#include "filelist.h"
#include "folderlist.h"
#include "keypressfilter.h"
#include "messageboxes.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <exception>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace {

enum class Kind
{
    Frame,
    DriveList,
    FolderList,
    FileList,
    Label,
    TextField,
    CommandButton,
    TextBox,
};

// One control of the window; places and sizes in twips, inside the parent's top left corner.
struct ControlSpec
{
    const char *name;
    Kind kind;
    const char *inside; // nullptr: the window itself
    int left;
    int top;
    int width;
    int height;
    int tabIndex;
    const char *text; // UTF-8
};

constexpr std::array kControls{
    ControlSpec{"fraExplorador", Kind::Frame, nullptr, 120, 120, 5175, 1935, 0,
                "Ubicación de scripts a los que se modificarán etiquetas"},
    ControlSpec{"Drive1", Kind::DriveList, "fraExplorador", 120, 240, 2415, 315, 2, ""},
    ControlSpec{"Dir1", Kind::FolderList, "fraExplorador", 120, 600, 2415, 1215, 1, ""},
    ControlSpec{"File1", Kind::FileList, "fraExplorador", 2640, 240, 2415, 1590, 3, ""},
    ControlSpec{"fraGenerar", Kind::Frame, nullptr, 120, 2160, 5175, 1215, 4, ""},
    ControlSpec{"Label1", Kind::Label, "fraGenerar", 120, 360, 1695, 255, 8, "Cambiar etiquetas"},
    ControlSpec{"txtCierreIz", Kind::TextField, "fraGenerar", 1920, 240, 495, 315, 5, "{"},
    ControlSpec{"Label7", Kind::Label, "fraGenerar", 2520, 360, 255, 255, 7, "y"},
    ControlSpec{"txtCierreDer", Kind::TextField, "fraGenerar", 2760, 240, 495, 315, 6, "}"},
    ControlSpec{"Label2", Kind::Label, "fraGenerar", 120, 720, 375, 255, 13, "Por"},
    ControlSpec{"txtNewCierreIz", Kind::TextField, "fraGenerar", 1920, 720, 495, 315, 10, "<"},
    ControlSpec{"Label3", Kind::Label, "fraGenerar", 2520, 840, 255, 255, 11, "y"},
    ControlSpec{"txtNewCierreDer", Kind::TextField, "fraGenerar", 2760, 720, 495, 315, 9, ">"},
    ControlSpec{"cmdCambiar", Kind::CommandButton, "fraGenerar", 3480, 240, 1575, 735, 12,
                "Cambiar Etiquetas"},
    ControlSpec{"txtScript", Kind::TextBox, nullptr, 120, 3840, 495, 285, 14, ""},
};

// The frames keep this margin to the window's edges.
constexpr int kMarginTwips = 120;
constexpr int kTwipsPerPixel = 15;

constexpr int pixels(int twips)
{
    return twips / kTwipsPerPixel;
}

// The size of the font Windows dialogs of this kind use: every caption fits its box with it.
constexpr int kFontPixelSize = 11;
// Folder icons no taller than the text, so that Dir1's box shows five folders as on the
// original platform instead of four and a half.
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

QWidget *createControl(const ControlSpec &row, QWidget *parent)
{
    const QString text = QString::fromUtf8(row.text);
    switch (row.kind) {
    case Kind::Frame:
        return new QGroupBox(text, parent);
    case Kind::DriveList:
    case Kind::FolderList:
    case Kind::FileList:
        break;
    case Kind::Label: {
        auto *label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case Kind::TextField:
        return new QLineEdit(text, parent);
    case Kind::CommandButton:
        return new QPushButton(text, parent);
    case Kind::TextBox:
        return new QPlainTextEdit(text, parent);
    }
    throw std::logic_error("no plain control of this kind");
}

bool isBrowserList(Kind kind)
{
    return kind == Kind::DriveList || kind == Kind::FolderList || kind == Kind::FileList;
}

template <typename T> T *child(const QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (found == nullptr)
        throw std::logic_error(std::string("missing control ") + name);
    return found;
}

} // namespace

frmDovezurad::frmDovezurad(MessageBoxes &messageBoxes, std::unique_ptr<DriveSource> drives,
                           const std::string &startFolder, QWidget *parent)
    : QWidget(parent), m_messageBoxes(messageBoxes)
{
    setObjectName(QStringLiteral("frmDovezurad"));
    setWindowTitle(QStringLiteral("Dovezurad"));
    buildControls(std::move(drives), startFolder);
    setUpDelimiterFields();
    connect(m_cmdCambiar, &QPushButton::clicked, this, [this] {
        try {
            cmdCambiar_Click(*this);
        } catch (const std::exception &error) {
            // Nothing of the window can be trusted after a failure the run does not report;
            // unwinding through Qt's event dispatch is not supported either.
            qFatal("%s", error.what());
        }
    });
    Form_Load();
    describeForScreenReaders();
}

void frmDovezurad::buildControls(std::unique_ptr<DriveSource> drives,
                                 const std::string &startFolder)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(kFontPixelSize);
    setFont(font);

    // The browser makes the drive, folder and file lists together, because their handlers
    // chain them; the table still places them.
    const auto browserList = [&](Kind kind, QWidget *frame) -> QWidget * {
        if (m_browser == nullptr)
            m_browser = new FolderBrowser(
                std::move(drives),
                [this](const QString &prompt, int style, const QString &title) {
                    return m_messageBoxes.messageBox(this, prompt, style, title);
                },
                frame, startFolder);
        QWidget *list = kind == Kind::DriveList    ? static_cast<QWidget *>(m_browser->drive1())
                        : kind == Kind::FolderList ? static_cast<QWidget *>(m_browser->dir1())
                                                   : static_cast<QWidget *>(m_browser->file1());
        if (list->parentWidget() != frame)
            throw std::logic_error("the drive, folder and file lists share one frame");
        return list;
    };

    std::map<std::string, QWidget *> byName;
    int clientWidth = 0;
    int clientHeight = 0;
    for (const ControlSpec &row : kControls) {
        QWidget *parentWidget = row.inside ? byName.at(row.inside) : this;
        QWidget *widget = isBrowserList(row.kind) ? browserList(row.kind, parentWidget)
                                                  : createControl(row, parentWidget);
        widget->setObjectName(QString::fromLatin1(row.name));
        widget->setGeometry(pixels(row.left), pixels(row.top), pixels(row.width),
                            pixels(row.height));
        byName[row.name] = widget;
        if (row.kind == Kind::Frame && row.inside == nullptr) {
            clientWidth = std::max(clientWidth, row.left + row.width + kMarginTwips);
            clientHeight = std::max(clientHeight, row.top + row.height + kMarginTwips);
        }
    }
    setFixedSize(pixels(clientWidth), pixels(clientHeight));

    m_drive1 = child<DriveList>(*this, "Drive1");
    m_dir1 = child<FolderList>(*this, "Dir1");
    m_file1 = child<FileList>(*this, "File1");
    m_txtCierreIz = child<QLineEdit>(*this, "txtCierreIz");
    m_txtCierreDer = child<QLineEdit>(*this, "txtCierreDer");
    m_txtNewCierreIz = child<QLineEdit>(*this, "txtNewCierreIz");
    m_txtNewCierreDer = child<QLineEdit>(*this, "txtNewCierreDer");
    m_cmdCambiar = child<QPushButton>(*this, "cmdCambiar");
    m_txtScript = child<QPlainTextEdit>(*this, "txtScript");

    // The file list only shows what the run will rewrite; the working buffer is never seen.
    m_file1->setEnabled(false);
    m_txtScript->hide();
    m_dir1->setIconSize(QSize(kFolderIconPixels, kFolderIconPixels));

    // Tab order follows the tab indexes over the controls that can take the focus.
    std::vector<const ControlSpec *> byTabIndex;
    for (const ControlSpec &row : kControls)
        byTabIndex.push_back(&row);
    std::sort(byTabIndex.begin(), byTabIndex.end(),
              [](const ControlSpec *a, const ControlSpec *b) { return a->tabIndex < b->tabIndex; });
    QWidget *previous = nullptr;
    for (const ControlSpec *row : byTabIndex) {
        QWidget *widget = byName.at(row->name);
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
        {m_txtCierreIz, &frmDovezurad::txtCierreIz_KeyPress},
        {m_txtCierreDer, &frmDovezurad::txtCierreDer_KeyPress},
        {m_txtNewCierreIz, &frmDovezurad::txtNewCierreIz_KeyPress},
        {m_txtNewCierreDer, &frmDovezurad::txtNewCierreDer_KeyPress},
    }};
    for (const auto &[field, handler] : fields) {
        field->setMaxLength(1);
        field->setAlignment(Qt::AlignCenter);
        // An input method would hand over composed characters without a key event.
        field->setAttribute(Qt::WA_InputMethodEnabled, false);
        const bool left = field == m_txtCierreIz || field == m_txtNewCierreIz;
        field->setValidator(new DelimiterValidator(left ? kLeftSet : kRightSet, field));
        field->installEventFilter(new KeyPressFilter(
            [this, handler = handler](int &keyAscii) { (this->*handler)(keyAscii); }, field));
    }
}

void frmDovezurad::Form_Load()
{
    m_browser->setStrUltimaUnidad(
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
}

const std::string &frmDovezurad::strUltimaUnidad() const
{
    return m_browser->strUltimaUnidad();
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

QWidget *frmDovezurad::control(Control which) const
{
    switch (which) {
    case Control::Dir1:
        return m_dir1;
    case Control::File1:
        return m_file1;
    case Control::Drive1:
        return m_drive1;
    case Control::txtCierreIz:
        return m_txtCierreIz;
    case Control::txtCierreDer:
        return m_txtCierreDer;
    case Control::txtNewCierreIz:
        return m_txtNewCierreIz;
    case Control::txtNewCierreDer:
        return m_txtNewCierreDer;
    }
    throw std::invalid_argument("unknown control");
}

std::int32_t frmDovezurad::fileCount()
{
    return m_file1->entryCount();
}

void frmDovezurad::selectFile(std::int32_t index)
{
    m_file1->selectEntry(index);
}

std::string frmDovezurad::currentFileName()
{
    return m_file1->currentNativeName();
}

std::string frmDovezurad::folderPath()
{
    return m_dir1->path();
}

std::string frmDovezurad::fieldText(Control field)
{
    // The fields' validators keep them to one character of an ASCII set, so Latin-1 is exact.
    return static_cast<QLineEdit *>(control(field))->text().toLatin1().toStdString();
}

void frmDovezurad::setEnabled(Control which, bool enabled)
{
    // The run walks the entries it counted before its first script: a reload in between could
    // drop the entry it is about to select. The run locks File1 before it counts and unlocks
    // Dir1 once it is done; a failed run keeps both locked. File1 is display only, never enabled.
    if (which == Control::File1) {
        if (!enabled)
            m_file1->freeze();
        return;
    }
    control(which)->setEnabled(enabled);
    if (which == Control::Dir1 && enabled)
        m_file1->unfreeze();
}

void frmDovezurad::setFocus(Control field)
{
    control(field)->setFocus();
}

int frmDovezurad::messageBox(const std::string &prompt, int style, const std::string &title)
{
    return m_messageBoxes.messageBox(this, QString::fromStdString(prompt), style,
                                     QString::fromStdString(title));
}

void frmDovezurad::handlePendingEvents()
{
    QCoreApplication::processEvents();
}

bool frmDovezurad::isClosing()
{
    return m_closing;
}

void frmDovezurad::describeForScreenReaders()
{
    setAccessibleDescription(
        QStringLiteral("Cambia los delimitadores de las etiquetas de los scripts de una carpeta"));
    // fraGenerar has no caption to be read out.
    child<QGroupBox>(*this, "fraGenerar")->setAccessibleName(QStringLiteral("Delimitadores"));

    m_drive1->setAccessibleName(QStringLiteral("Unidad"));
    // Qt on Linux reads a drop-down list's current entry as its name; the role is said here.
    m_drive1->setAccessibleDescription(QStringLiteral("Unidad cuyas carpetas se muestran"));
    m_dir1->setAccessibleName(QStringLiteral("Carpeta"));
    m_dir1->setAccessibleDescription(QStringLiteral("La carpeta cuyos scripts se modificarán"));
    m_file1->setAccessibleName(QStringLiteral("Scripts de la carpeta"));
    m_file1->setAccessibleDescription(
        QStringLiteral("Los scripts que se modificarán, en el orden en que se modificarán"));

    // The captions "Cambiar etiquetas", "y", "Por", "y" mean little read alone; each field says
    // which delimiter it holds and, as its description, which characters it takes.
    const std::array<std::tuple<const char *, QLineEdit *, QString, const QString &>, 4> fields{{
        {"Label1", m_txtCierreIz, QStringLiteral("Delimitador izquierdo actual"), kLeftMessage},
        {"Label7", m_txtCierreDer, QStringLiteral("Delimitador derecho actual"), kRightMessage},
        {"Label2", m_txtNewCierreIz, QStringLiteral("Delimitador izquierdo nuevo"), kLeftMessage},
        {"Label3", m_txtNewCierreDer, QStringLiteral("Delimitador derecho nuevo"), kRightMessage},
    }};
    for (const auto &[label, field, name, allowed] : fields) {
        child<QLabel>(*this, label)->setBuddy(field);
        field->setAccessibleName(name);
        field->setAccessibleDescription(allowed);
    }

    m_cmdCambiar->setAccessibleDescription(QStringLiteral(
        "Cambia los delimitadores actuales por los nuevos en todos los scripts de la carpeta"));
}
