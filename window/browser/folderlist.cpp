#include "folderlist.h"

#include "nativepaths.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace {

constexpr int kIndentStep = 12;

class IndentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem indented(option);
        indented.rect.adjust(index.data(FolderList::kIndentRole).toInt() * kIndentStep, 0, 0, 0);
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += index.data(FolderList::kIndentRole).toInt() * kIndentStep;
        return size;
    }
};

namespace fs = std::filesystem;

// The names from the top of the file system down to the path, without the drive: "/a//b/" and
// "/a/b" are one folder.
std::vector<std::string> names(const fs::path &path)
{
    std::vector<std::string> parts;
    for (const fs::path &part : path.relative_path()) {
        std::string name = NativePaths::fromPath(part);
        if (!name.empty() && name != ".")
            parts.push_back(std::move(name));
    }
    return parts;
}

std::string join(const std::string &folder, const std::string &name)
{
    return NativePaths::fromPath(NativePaths::toPath(folder) / NativePaths::toPath(name));
}

// "/", "/media/usb" or C:\ on Windows, with the platform's own separators.
std::string normalizedRoot(const std::string &root)
{
    const fs::path given = NativePaths::toPath(root);
    if (!given.is_absolute())
        throw std::invalid_argument("a drive root is an absolute path");
    fs::path result = fs::path(given.root_path()).make_preferred();
    for (const std::string &name : names(given))
        result /= NativePaths::toPath(name);
    return NativePaths::fromPath(result);
}

std::string withSeparator(std::string root)
{
    if (!NativePaths::isSeparator(root.back()))
        root += static_cast<char>(fs::path::preferred_separator);
    return root;
}

std::string chainPath(const FolderList::Listing &listing, std::size_t depth)
{
    std::string path = listing.root;
    for (std::size_t i = 0; i < depth; ++i)
        path = join(path, listing.chain[i]);
    return depth == 0 ? withSeparator(path) : path;
}

} // namespace

FolderList::FolderList(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new IndentDelegate(this));
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem *item) { requestOpen(row(item)); });
}

void FolderList::setPath(const std::string &root, const std::string &folder)
{
    Listing listing;
    listing.root = normalizedRoot(root);
    const fs::path rootPath = NativePaths::toPath(listing.root);
    const fs::path folderPath = NativePaths::toPath(folder);
    const std::vector<std::string> rootParts = names(rootPath);
    std::vector<std::string> folderParts = names(folderPath);
    if (!folderPath.is_absolute() ||
        !NativePaths::sameSpelling(NativePaths::fromPath(rootPath.root_name()),
                                   NativePaths::fromPath(folderPath.root_name())) ||
        folderParts.size() < rootParts.size() ||
        !std::equal(rootParts.begin(), rootParts.end(), folderParts.begin(),
                    [](const std::string &a, const std::string &b) {
                        return NativePaths::sameSpelling(a, b);
                    }))
        throw std::invalid_argument("the folder is not on the drive");
    listing.chain.assign(folderParts.begin() + static_cast<std::ptrdiff_t>(rootParts.size()),
                         folderParts.end());
    const std::string target = chainPath(listing, listing.chain.size());
    listing.subfolders =
        NativePaths::list(target, NativePaths::Kind::Folder, [](std::string_view) { return true; });
    NativePaths::sortByName(listing.subfolders);

    m_listing = std::move(listing);
    rebuild();
    emit pathChanged();
}

std::string FolderList::path() const
{
    if (m_listing.root.empty())
        return {};
    return chainPath(m_listing, m_listing.chain.size());
}

std::string FolderList::pathAt(int row) const
{
    if (row < 0 || m_listing.root.empty())
        return {};
    const auto index = static_cast<std::size_t>(row);
    const std::size_t chainRows = m_listing.chain.size() + 1;
    if (index < chainRows)
        return chainPath(m_listing, index);
    if (index - chainRows < m_listing.subfolders.size())
        return join(path(), m_listing.subfolders[index - chainRows]);
    return {};
}

void FolderList::restore(Listing listing)
{
    m_listing = std::move(listing);
    rebuild();
}

void FolderList::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        requestOpen(currentRow());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void FolderList::rebuild()
{
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const auto addRow = [this](const QIcon &icon, const QString &text, std::size_t depth) {
        auto *item = new QListWidgetItem(icon, text, this);
        item->setData(kIndentRole, static_cast<int>(depth));
    };

    setUpdatesEnabled(false);
    clear();
    if (!m_listing.root.empty()) {
        addRow(open, NativePaths::displayName(m_listing.root), 0);
        for (std::size_t i = 0; i < m_listing.chain.size(); ++i)
            addRow(open, NativePaths::displayName(m_listing.chain[i]), i + 1);
        for (const std::string &name : m_listing.subfolders)
            addRow(closed, NativePaths::displayName(name), m_listing.chain.size() + 1);
        setCurrentRow(static_cast<int>(m_listing.chain.size()));
    }
    setUpdatesEnabled(true);
}

void FolderList::requestOpen(int row)
{
    const std::string target = pathAt(row);
    if (!target.empty())
        emit openRequested(QByteArray::fromStdString(target));
}
