#pragma once

#include "scriptchanges.h"

#include <QAbstractTableModel>
#include <QString>

#include <string>
#include <vector>

// The preview's list: one row a script that would change (its name, the spaces trimmed, the left
// and right delimiters replaced) or that could not be read (its name and the error).
class ScriptChangesModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Row
    {
        std::string nativeName;
        QString name;
        ScriptChanges changes;
        QString failure; // empty unless it could not be read
    };

    enum Column
    {
        Name,
        Spaces,
        Left,
        Right,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    // Rows come in batches: a row a time would redraw the list a row a time.
    void append(std::vector<Row> rows);
    const Row &row(int index) const { return m_rows.at(static_cast<std::size_t>(index)); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<Row> m_rows;
};
