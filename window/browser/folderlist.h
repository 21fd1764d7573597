#pragma once

#include <QByteArray>
#include <QListWidget>

#include <string>
#include <vector>

class QKeyEvent;

// Dir1: the chain of folders from the drive's root down to the current folder, each one step
// further in, then the current folder's subfolders. The user opens one with a double click or
// Enter; whoever owns the list decides whether to move there.
class FolderList : public QListWidget
{
    Q_OBJECT

public:
    // Everything the list shows, so that a move that fails half way can be taken back.
    struct Listing
    {
        std::string root;
        std::vector<std::string> chain;
        std::vector<std::string> subfolders;
    };

    explicit FolderList(QWidget *parent = nullptr);

    // Moves to a folder on the drive with this root, or throws FileError and stays as it was.
    void setPath(const std::string &root, const std::string &folder);
    // A full native path: the root with its closing separator, any other folder without one.
    std::string path() const;
    const std::string &root() const { return m_listing.root; }
    // The folder that the given row stands for.
    std::string pathAt(int row) const;

    const Listing &listing() const { return m_listing; }
    void restore(Listing listing);

    static constexpr int kIndentRole = Qt::UserRole + 1;

signals:
    void openRequested(const QByteArray &nativePath);
    void pathChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void rebuild();
    void requestOpen(int row);

    Listing m_listing;
};
