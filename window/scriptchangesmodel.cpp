#include "scriptchangesmodel.h"

void ScriptChangesModel::append(std::vector<Row> rows)
{
    if (rows.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()),
                  std::make_move_iterator(rows.end()));
    endInsertRows();
}

int ScriptChangesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ScriptChangesModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ScriptChangesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::TextAlignmentRole))
        return {};
    const Row &shown = row(index.row());
    const bool number = index.column() != Name && shown.failure.isEmpty();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(number ? Qt::AlignRight | Qt::AlignVCenter
                                          : Qt::AlignLeft | Qt::AlignVCenter);
    switch (index.column()) {
    case Name:
        return shown.name;
    case Spaces:
        return shown.failure.isEmpty() ? QVariant(QString::number(shown.changes.spaces))
                                       : QVariant(shown.failure);
    case Left:
        return shown.failure.isEmpty() ? QVariant(QString::number(shown.changes.left)) : QVariant();
    case Right:
        return shown.failure.isEmpty() ? QVariant(QString::number(shown.changes.right))
                                       : QVariant();
    default:
        return {};
    }
}

QVariant ScriptChangesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Name:
        return QStringLiteral("Script");
    case Spaces:
        return QStringLiteral("Espacios quitados");
    case Left:
        return QStringLiteral("Izquierdos");
    case Right:
        return QStringLiteral("Derechos");
    default:
        return {};
    }
}
