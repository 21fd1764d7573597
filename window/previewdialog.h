#pragma once

#include "cierres.h"
#include "rewritepreview.h"
#include "scriptchangesmodel.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTextEdit>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class LineChanges;

// "Vista previa": the scripts a run would change, filled as a dry run reads them, and the first
// lines that would change in the one selected. It writes nothing, keeps nothing and asks nothing.
class PreviewDialog final : public QDialog
{
    Q_OBJECT

public:
    // Lets the program answer the user, and says whether it should go on (false: the program is
    // closing).
    using PendingEvents = std::function<bool()>;

    PreviewDialog(QWidget *parent, PendingEvents pendingEvents);

    // Reads the scripts as the command line's dry run does (RewritePreview::previewAll) and
    // lists what it finds, answering the user between scripts and within a long one. Returns
    // when all are read or the dialog was closed; throws std::bad_alloc.
    void walk(std::unique_ptr<RewritePreview> preview, const std::vector<std::string> &names,
              const Cierres &cierres);
    // Reading the scripts, or one script's lines.
    bool isBusy() const { return m_walking || m_readingLines; }

    const ScriptChangesModel &model() const { return m_model; }

    void done(int result) override;

private:
    // Whether to go on; answers the user at most every few milliseconds.
    bool answerUser();
    void showRows(bool now);
    void showLines();
    void readLines(ScriptChangesModel::Row row);
    void showLinesOf(const LineChanges &lines);
    void letFolderGo();

    PendingEvents m_pendingEvents;
    std::unique_ptr<RewritePreview> m_preview;
    Cierres m_cierres;
    bool m_walking = false;
    bool m_readingLines = false;
    bool m_selectionChanged = false;
    bool m_closed = false;
    std::int32_t m_read = 0;
    std::int32_t m_count = 0;
    std::vector<ScriptChangesModel::Row> m_pending;
    QElapsedTimer m_sinceAnswered;
    QElapsedTimer m_sinceShown;

    ScriptChangesModel m_model;
    QTableView m_list{this};
    QLabel m_total{this};
    QTextEdit m_lines{this};
    QPushButton m_close{this};
};
