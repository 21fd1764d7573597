#include "browsertestsupport.h"
#include "fakemessageboxes.h"
#include "frmdovezurad.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <utility>

namespace {

QAccessibleInterface *accessible(const QWidget &window, const char *name)
{
    auto *widget = window.findChild<QWidget *>(QString::fromLatin1(name));
    return widget != nullptr ? QAccessible::queryAccessibleInterface(widget) : nullptr;
}

class AccessibilityTest : public ::testing::Test
{
protected:
    void expectNames(std::initializer_list<std::pair<const char *, QString>> named) const
    {
        for (const auto &[name, expected] : named) {
            SCOPED_TRACE(name);
            QAccessibleInterface *control = accessible(*m_window, name);
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(control->text(QAccessible::Name), expected);
        }
    }

    FakeMessageBoxes m_boxes;
    TempPlace m_place;
    std::unique_ptr<frmDovezurad> m_window = std::make_unique<frmDovezurad>(
        m_boxes, FolderDriveSource::of({m_place.at()}), m_place.at());
};

TEST_F(AccessibilityTest, FieldsAreNamedDescribedAndLabelled)
{
    struct Field
    {
        const char *name;
        const char *label;
        QString accessibleName;
        QString description;
    };
    const QString left = QStringLiteral("Entradas permitidas: { [ ( < / \\~");
    const QString right = QStringLiteral("Entradas permitidas: } ] ) > / \\ ~");
    const Field fields[] = {
        {"txtCierreIz", "Label1", QStringLiteral("Delimitador izquierdo actual"), left},
        {"txtCierreDer", "Label7", QStringLiteral("Delimitador derecho actual"), right},
        {"txtNewCierreIz", "Label2", QStringLiteral("Delimitador izquierdo nuevo"), left},
        {"txtNewCierreDer", "Label3", QStringLiteral("Delimitador derecho nuevo"), right},
    };
    for (const Field &field : fields) {
        SCOPED_TRACE(field.name);
        QAccessibleInterface *text = accessible(*m_window, field.name);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->role(), QAccessible::EditableText);
        EXPECT_EQ(text->text(QAccessible::Name), field.accessibleName);
        EXPECT_EQ(text->text(QAccessible::Description), field.description);

        QAccessibleInterface *label = accessible(*m_window, field.label);
        bool labelled = false;
        for (const auto &[other, relation] : text->relations(QAccessible::Label))
            labelled = labelled || other == label;
        EXPECT_TRUE(labelled) << "the label is not tied to its field";
    }
}

// A control added without a name would be read out as its kind alone.
TEST_F(AccessibilityTest, EveryControlAScreenReaderReachesHasASpanishName)
{
    expectNames({
        {"fraExplorador",
         QStringLiteral("Ubicación de scripts a los que se modificarán etiquetas")},
        {"fraGenerar", QStringLiteral("Delimitadores")},
        {"Dir1", QStringLiteral("Carpeta")},
        {"File1", QStringLiteral("Scripts de la carpeta")},
        {"cmdCambiar", QStringLiteral("Cambiar Etiquetas")},
    });
    EXPECT_FALSE(accessible(*m_window, "cmdCambiar")->text(QAccessible::Description).isEmpty());
    // On Linux Qt names a drop-down list by its current entry and leaves the rest to labels.
    EXPECT_EQ(accessible(*m_window, "Drive1")->text(QAccessible::Description),
              QStringLiteral("Unidad cuyas carpetas se muestran"));

    for (QWidget *widget : m_window->findChildren<QWidget *>()) {
        // A drop-down list's own popup is not reached until it opens.
        if (!widget->isVisibleTo(m_window.get()) || !(widget->focusPolicy() & Qt::TabFocus))
            continue;
        SCOPED_TRACE(widget->objectName().toStdString());
        QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(control, nullptr);
        EXPECT_FALSE(control->text(QAccessible::Name).isEmpty());
    }
}

TEST_F(AccessibilityTest, TheMenuThePreviewAndItsListAreNamedAndTheListsRowsRead)
{
    m_place.file("a.txt", "  {a}");
    m_window = std::make_unique<frmDovezurad>(m_boxes, FolderDriveSource::of({m_place.at()}),
                                              m_place.at());
    QAccessibleInterface *menu = accessible(*m_window, "mnuContexto");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->text(QAccessible::Name), QStringLiteral("Más acciones"));
    ASSERT_EQ(menu->childCount(), 2);
    EXPECT_EQ(menu->child(0)->text(QAccessible::Name), QStringLiteral("Ver qué cambiaría…"));
    EXPECT_EQ(menu->child(1)->text(QAccessible::Name),
              QStringLiteral("Deshacer la última modificación…"));

    m_window->findChild<QAction *>("mnuVerCambios")->trigger();
    expectNames({
        {"frmVistaPrevia", QStringLiteral("Vista previa")},
        {"lstScripts", QStringLiteral("Scripts que cambiarían")},
        {"txtLineas", QStringLiteral("Líneas que cambiarían")},
    });
    QAccessibleTableInterface *list = accessible(*m_window, "lstScripts")->tableInterface();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->rowCount(), 1);
    QStringList row;
    for (int column = 0; column < list->columnCount(); ++column)
        row << list->cellAt(0, column)->text(QAccessible::Name);
    EXPECT_EQ(row, QStringList({"a.txt", "2", "1", "1"}));
}

} // namespace
