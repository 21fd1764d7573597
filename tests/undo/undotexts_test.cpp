// What undo says agrees with its counts, in the window and on the command line alike.
#include "undotexts.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ut = undotexts;

TEST(UndoTexts, AgreeWithTheirCounts)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {ut::question(1), "Se restaurará el script modificado por la última ejecución en esta "
                          "carpeta. ¿Desea continuar?"},
        {ut::question(2), "Se restaurarán los 2 scripts modificados por la última ejecución en "
                          "esta carpeta. ¿Desea continuar?"},
        {ut::changedSince(0, 1, 1), "Se restauraron 0 de 1 script; este cambió después y no se "
                                    "tocó:"},
        {ut::changedSince(1, 3, 2), "Se restauró 1 de 3 scripts; estos cambiaron después y no "
                                    "se tocaron:"},
        {ut::notKept(2, 3, 1), "Se restauraron 2 de 3 scripts; este no se pudo guardar y sigue "
                               "cambiado:"},
        {ut::notKept(0, 2, 2), "Se restauraron 0 de 2 scripts; estos no se pudieron guardar y "
                               "siguen cambiados:"},
        {ut::stopped(1, 3), "Deshacer interrumpido: se restauró 1 de 3 scripts; los demás quedan "
                            "como estaban."},
        {ut::stopped(2, 3), "Deshacer interrumpido: se restauraron 2 de 3 scripts; el otro queda "
                            "como estaba."},
        {ut::stopped(0, 1), "Deshacer interrumpido: se restauraron 0 de 1 script; queda como "
                            "estaba."},
        {ut::restStays(3, 3), "."},
    };
    for (const auto &[said, expected] : cases)
        EXPECT_EQ(said, expected);
}
