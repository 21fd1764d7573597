#include "previewdialog.h"

#include "linechanges.h"
#include "nativepaths.h"
#include "shownline.h"
#include "windowrunoperations.h"

#include <QHeaderView>

#include <array>
#include <new>
#include <utility>

namespace {

// Where each control stands in the dialog, in pixels.
struct Place
{
    const char *name;
    int left;
    int top;
    int width;
    int height;
};

constexpr Place kList{"lstScripts", 8, 8, 584, 200};
constexpr Place kTotal{"lblTotal", 8, 212, 584, 32};
constexpr Place kLines{"txtLineas", 8, 248, 584, 164};
constexpr Place kClose{"cmdCerrar", 504, 418, 88, 24};
constexpr int kWidth = 600;
constexpr int kHeight = 450;
constexpr std::array kColumnWidths{270, 120, 80, 80};

// The user is answered at least this often; rows and the title follow at the run's pace.
constexpr qint64 kAnswerEveryMs = 10;
constexpr qint64 kShowEveryMs = 40;
constexpr std::size_t kShownLines = 50;

const QString kTitle = QStringLiteral("Vista previa");

// As the command line's dry run says it.
QString totalText(std::size_t changed, std::size_t count, std::size_t failed)
{
    QString text = QString::fromStdString(previewTotalText(changed, count));
    if (failed > 0)
        text += QLatin1Char('\n') + QString::fromStdString(previewUnreadableText(failed));
    return text;
}

} // namespace

PreviewDialog::PreviewDialog(QWidget *parent, PendingEvents pendingEvents)
    : QDialog(parent), m_pendingEvents(std::move(pendingEvents))
{
    setObjectName(QStringLiteral("frmVistaPrevia"));
    setWindowTitle(kTitle);
    if (parent != nullptr)
        setFont(parent->font());
    setFixedSize(kWidth, kHeight);

    m_list.setModel(&m_model);
    m_list.setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list.setSelectionMode(QAbstractItemView::SingleSelection);
    m_list.setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list.setTabKeyNavigation(false);
    m_list.setWordWrap(false);
    m_list.verticalHeader()->hide();
    m_list.verticalHeader()->setDefaultSectionSize(m_list.fontMetrics().height() + 4);
    for (std::size_t column = 0; column < kColumnWidths.size(); ++column)
        m_list.setColumnWidth(static_cast<int>(column), kColumnWidths[column]);
    m_list.horizontalHeader()->setStretchLastSection(true);
    m_lines.setReadOnly(true);
    m_lines.setPlaceholderText(
        QStringLiteral("Elija un script para ver las primeras líneas que cambiarían."));
    m_close.setText(QStringLiteral("Cerrar"));

    for (const auto &[widget, place] : std::array<std::pair<QWidget *, Place>, 4>{
             {{&m_list, kList}, {&m_total, kTotal}, {&m_lines, kLines}, {&m_close, kClose}}}) {
        widget->setObjectName(QString::fromLatin1(place.name));
        widget->setGeometry(place.left, place.top, place.width, place.height);
    }
    setTabOrder(&m_list, &m_lines);
    setTabOrder(&m_lines, &m_close);

    setAccessibleName(kTitle);
    m_list.setAccessibleName(QStringLiteral("Scripts que cambiarían"));
    m_list.setAccessibleDescription(QStringLiteral(
        "Cada script con los espacios quitados y los delimitadores izquierdos y derechos "
        "cambiados"));
    m_total.setAccessibleName(QStringLiteral("Total"));
    m_lines.setAccessibleName(QStringLiteral("Líneas que cambiarían"));
    m_lines.setAccessibleDescription(
        QStringLiteral("Cada línea como está ahora y como quedaría; lo que cambia va subrayado"));

    connect(&m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list.selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &PreviewDialog::showLines);
}

void PreviewDialog::walk(std::unique_ptr<RewritePreview> preview,
                         const std::vector<std::string> &names, const Cierres &cierres)
{
    m_preview = std::move(preview);
    m_cierres = cierres;
    m_count = static_cast<std::int32_t>(names.size());
    m_walking = true;
    struct Walking
    {
        bool &walking;
        ~Walking() { walking = false; }
    } walking{m_walking};
    const RewritePreview::Totals totals = m_preview->previewAll(
        names, cierres,
        [this](const RewritePreview::Script &script) {
            m_pending.push_back(
                {script.name, NativePaths::displayName(script.name), script.changes,
                 script.failure ? QString::fromStdString(script.failure->what()) : QString()});
        },
        [this](std::uint64_t done, std::uint64_t total) {
            if (done == 0 && total == 0)
                ++m_read; // told before each script
            return answerUser();
        });
    m_walking = false;
    showRows(true);
    letFolderGo();
    if (totals.stopped)
        return;
    setWindowTitle(kTitle);
    m_total.setText(totalText(totals.changed, names.size(), totals.failed));
}

bool PreviewDialog::answerUser()
{
    if (!m_sinceAnswered.isValid() || m_sinceAnswered.elapsed() >= kAnswerEveryMs) {
        showRows(false);
        m_sinceAnswered.start();
        if (!m_pendingEvents())
            m_closed = true;
    }
    return !m_closed;
}

void PreviewDialog::showRows(bool now)
{
    if (!now && m_sinceShown.isValid() && m_sinceShown.elapsed() < kShowEveryMs)
        return;
    m_sinceShown.start();
    m_model.append(std::exchange(m_pending, {}));
    if (m_walking)
        setWindowTitle(QStringLiteral("%1 — %2 de %3")
                           .arg(kTitle, WindowRunOperations::grouped(m_read),
                                WindowRunOperations::grouped(m_count)));
}

void PreviewDialog::done(int result)
{
    m_closed = true; // a walk or a reading under way stops at its next look
    QDialog::done(result);
    letFolderGo();
}

void PreviewDialog::letFolderGo()
{
    // Held until the dialog closes, for the lines of a script chosen; on Windows a held folder
    // cannot be renamed or removed by anyone.
    if (m_closed && !isBusy())
        m_preview.reset();
}

void PreviewDialog::showLines()
{
    // Chosen again while a script is read: that reading stops and the new choice is read.
    if (m_readingLines) {
        m_selectionChanged = true;
        return;
    }
    m_readingLines = true;
    do {
        m_selectionChanged = false;
        const int row = m_list.currentIndex().row();
        if (row < 0)
            m_lines.clear();
        else
            readLines(m_model.row(row)); // a copy: rows may come while it is read
    } while (m_selectionChanged && !m_closed);
    m_readingLines = false;
    letFolderGo();
}

void PreviewDialog::readLines(ScriptChangesModel::Row row)
{
    if (!row.failure.isEmpty()) {
        m_lines.setPlainText(row.failure);
        return;
    }
    if (!m_preview)
        return; // closed
    m_lines.setPlainText(QStringLiteral("Leyendo %1…").arg(row.name));
    LineChanges lines(kShownLines);
    try {
        m_preview->readAgain(
            row.nativeName, m_cierres,
            [&lines](const unsigned char *bytes, std::size_t size) { lines.input(bytes, size); },
            [&lines](const unsigned char *bytes, std::size_t size, std::uint64_t, bool) {
                lines.output(bytes, size);
            },
            [this, &lines](std::uint64_t, std::uint64_t) {
                return !lines.full() && answerUser() && !m_selectionChanged;
            });
        lines.finish();
    } catch (const RewriteAbandoned &) {
        if (!lines.full())
            return; // another script was chosen, or the dialog closed
    } catch (const FileError &error) {
        m_lines.setPlainText(QString::fromStdString(error.what()));
        return;
    } catch (const std::bad_alloc &) {
        m_lines.setPlainText(QString::fromStdString(FileError::outOfMemory().what()));
        return;
    }
    showLinesOf(lines);
}

void PreviewDialog::showLinesOf(const LineChanges &lines)
{
    const QString cell = QStringLiteral("<td style=\"white-space:pre;font-family:'DejaVu Sans "
                                        "Mono',monospace\">%1</td>");
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\">");
    for (const LineChanges::Line &line : lines.lines()) {
        const ShownLine before(line.before, lines.road(), line.cutAtStart, line.cutAtEnd);
        const ShownLine after(line.after, lines.road(), line.cutAtStart, line.cutAtEnd);
        html += QStringLiteral("<tr><td colspan=\"2\"><b>Línea %1</b></td></tr>")
                    .arg(WindowRunOperations::grouped(static_cast<std::int64_t>(line.number)));
        html += QStringLiteral("<tr><td>Ahora:</td>") + cell.arg(before.html()) +
                QStringLiteral("</tr><tr><td>Quedaría:</td>") + cell.arg(after.html()) +
                QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table>");
    if (lines.full())
        html += QStringLiteral("<p>Se muestran las %1 primeras líneas que cambiarían.</p>")
                    .arg(kShownLines);
    m_lines.setHtml(html);
}
