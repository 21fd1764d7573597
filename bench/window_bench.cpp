// The whole run through the real window, from the click on "Cambiar Etiquetas" to the success
// message, against the core alone on the same folder: the rewrite of every script and the
// folder's flush, with no window around it.
//
// With --vista-previa, the preview ("Ver qué cambiaría…") through the window, from the shortcut's
// action to the dialog's total, against `dovezurad --simular` on the same folder, and the longest
// the window went without answering the user meanwhile.
//
// Usage: window_bench [--vista-previa] [scripts...]   (default 2000 20000 40000)
// Folders of 4 KiB scripts are made once under DOVEZURAD_BENCH_DIR (or the system's temporary
// folder) and kept for the next sitting; DOVEZURAD_BENCH_ROUNDS sets the passes (default 2), and
// DOVEZURAD_BENCH_SCRIPT_KIB the size of the preview's scripts (2097152 for one of 2 GiB).

#include "frmdovezurad.h"
#include "messageboxes.h"
#include "modificarscript.h"
#include "runfolder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const Cierres kForward{"{", "}", "<", ">"};
const Cierres kBackward{"<", ">", "{", "}"};

// Answers Yes to the confirmation and notes when the closing message came.
class AnsweringBoxes final : public MessageBoxes
{
public:
    int messageBox(QWidget *, const QString &prompt, int style, const QString &) override
    {
        if (style == MessageStyle::YesNoCancelWarning)
            return MessageAnswer::Yes;
        m_lastMessage = prompt;
        m_shownAt = Clock::now();
        return MessageAnswer::Ok;
    }
    void beep() override {}

    QString m_lastMessage;
    Clock::time_point m_shownAt;
};

fs::path scriptFolder(int count, const std::string &kind = "window-", std::size_t bytes = 4096)
{
    const char *base = std::getenv("DOVEZURAD_BENCH_DIR");
    const fs::path folder =
        fs::path(base ? base : fs::temp_directory_path().string()) / (kind + std::to_string(count));
    fs::create_directories(folder);
    std::string text;
    const std::string line = "Hola {nombre}, su pedido {pedido} llega el {fecha}.\r\n";
    while (text.size() < std::min<std::size_t>(bytes, std::size_t{1} << 20))
        text += line;
    text.resize(std::min<std::size_t>(bytes, std::size_t{1} << 20) - 1);
    text += '.';
    for (int i = 0; i < count; ++i) {
        const fs::path file = folder / ("script" + std::to_string(i) + ".txt");
        if (fs::exists(file))
            continue;
        // A large script is the same MiB over and over.
        std::ofstream out(file, std::ios::binary);
        for (std::size_t written = 0; written < bytes; written += text.size())
            out << text;
    }
    return folder;
}

std::vector<std::string> scriptNames(int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back("script" + std::to_string(i) + ".txt");
    return names;
}

void setFields(frmDovezurad &window, const Cierres &cierres)
{
    const std::pair<const char *, const std::string &> fields[] = {
        {"txtCierreIz", cierres.CierreIz},
        {"txtCierreDer", cierres.CierreDer},
        {"txtNewCierreIz", cierres.NewCierreIz},
        {"txtNewCierreDer", cierres.NewCierreDer},
    };
    for (const auto &[name, text] : fields)
        window.findChild<QLineEdit *>(QString::fromLatin1(name))
            ->setText(QString::fromLatin1(text.c_str()));
}

// Processor time of the whole process, all threads, in seconds: the disk's waits left out.
double cpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

double coreSeconds(const fs::path &folder, const std::vector<std::string> &names,
                   const Cierres &cierres)
{
    const auto start = Clock::now();
    // The run's own way: scripts flushed in batches, the folder once at the end.
    RewriteRun run(openRunFolder(folder.string()), RewriteRun::Flushes::Batched);
    for (const std::string &name : names)
        run.rewrite(name, cierres);
    run.finish();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::optional<double> windowSeconds(frmDovezurad &window, AnsweringBoxes &boxes,
                                    const Cierres &cierres)
{
    setFields(window, cierres);
    auto *button = window.findChild<QAbstractButton *>(QStringLiteral("cmdCambiar"));
    QApplication::processEvents();
    boxes.m_lastMessage.clear();
    const auto start = Clock::now();
    button->click();
    if (boxes.m_lastMessage != QStringLiteral("¡Etiquetas modificadas!")) {
        std::fprintf(stderr, "the run ended with: %s\n", qPrintable(boxes.m_lastMessage));
        return std::nullopt;
    }
    return std::chrono::duration<double>(boxes.m_shownAt - start).count();
}

// Notes the longest time between two rounds of answering the user.
class TimedWindow final : public frmDovezurad
{
public:
    using frmDovezurad::frmDovezurad;

    void handlePendingEvents() override
    {
        const auto now = Clock::now();
        if (m_last)
            m_longest = std::max(m_longest, now - *m_last);
        m_last = now;
        frmDovezurad::handlePendingEvents();
    }

    std::optional<Clock::time_point> m_last;
    Clock::duration m_longest{};
};

int benchPreview(const std::vector<int> &counts)
{
    std::printf("%8s %11s %9s %6s %14s\n", "scripts", "simular s", "window s", "ratio",
                "longest gap ms");
    const char *roundsText = std::getenv("DOVEZURAD_BENCH_ROUNDS");
    const int rounds = roundsText ? std::max(1, std::atoi(roundsText)) : 2;
    const char *kibText = std::getenv("DOVEZURAD_BENCH_SCRIPT_KIB");
    const int scriptKib = kibText ? std::max(1, std::atoi(kibText)) : 4;
    for (const int count : counts) {
        // Never rewritten: every script would change.
        const fs::path folder = scriptFolder(count, "preview-" + std::to_string(scriptKib) + "k-",
                                             static_cast<std::size_t>(scriptKib) << 10);
        const std::string command = std::string("'") + DOVEZURAD_PROGRAM +
                                    "' --simular --cambiar '{}' --por '<>' '" + folder.string() +
                                    "' >/dev/null";
        AnsweringBoxes boxes;
        TimedWindow window(boxes, std::make_unique<StorageDriveSource>(), folder.string());
        window.show();
        QApplication::processEvents();
        auto *action = window.findChild<QAction *>(QStringLiteral("mnuVerCambios"));
        // Both read the folder once before they are timed, so both find it in memory.
        if (std::system(command.c_str()) != 0)
            return 1;
        double simular = 0;
        double through = 0;
        for (int round = 0; round <= rounds; ++round) {
            auto start = Clock::now();
            if (std::system(command.c_str()) != 0)
                return 1;
            const double terminal = std::chrono::duration<double>(Clock::now() - start).count();
            window.m_last.reset();
            start = Clock::now();
            action->trigger();
            const double shown = std::chrono::duration<double>(Clock::now() - start).count();
            auto *dialog = window.findChild<QDialog *>();
            const QString total = dialog->findChild<QLabel *>(QStringLiteral("lblTotal"))->text();
            if (!total.startsWith(QString::number(count) + QStringLiteral(" de "))) {
                std::fprintf(stderr, "the preview ended with: %s\n", qPrintable(total));
                return 1;
            }
            dialog->close();
            if (round == 0)
                continue; // the window's first preview warms what it uses
            simular += terminal;
            through += shown;
        }
        std::printf("%8d %11.2f %9.2f %6.2f %14.1f\n", count, simular / rounds, through / rounds,
                    through / simular,
                    std::chrono::duration<double, std::milli>(window.m_longest).count());
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    std::vector<int> counts;
    const bool preview = argc > 1 && std::string(argv[1]) == "--vista-previa";
    for (int i = preview ? 2 : 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {2000, 20000, 40000};
    if (preview)
        return benchPreview(counts);

    std::printf("%8s %9s %9s %11s %11s %6s %10s %10s\n", "scripts", "core s", "window s",
                "core scr/s", "window scr/s", "ratio", "core cpu", "window cpu");
    for (const int count : counts) {
        const fs::path folder = scriptFolder(count);
        const std::vector<std::string> names = scriptNames(count);
        AnsweringBoxes boxes;
        frmDovezurad window(boxes, std::make_unique<StorageDriveSource>(), folder.string());
        window.show();

        // Each pass turns the delimiters one way and the next pass back, so the files stay the
        // same size; core and window take turns so that both see the same disk.
        double core = 0;
        double through = 0;
        double coreCpu = 0;
        double windowCpu = 0;
        const char *roundsText = std::getenv("DOVEZURAD_BENCH_ROUNDS");
        const int kRounds = roundsText ? std::max(1, std::atoi(roundsText)) : 2;
        bool failed = false;
        for (int round = 0; round < kRounds && !failed; ++round) {
            double cpuBefore = cpuSeconds();
            core += coreSeconds(folder, names, kForward);
            coreCpu += cpuSeconds() - cpuBefore;
            cpuBefore = cpuSeconds();
            const std::optional<double> run = windowSeconds(window, boxes, kBackward);
            windowCpu += cpuSeconds() - cpuBefore;
            failed = !run;
            through += run.value_or(0);
        }
        if (failed)
            return 1;
        core /= kRounds;
        through /= kRounds;
        std::printf("%8d %9.2f %9.2f %11.0f %11.0f %6.2f %10.2f %10.2f\n", count, core, through,
                    count / core, count / through, through / core, coreCpu / kRounds,
                    windowCpu / kRounds);
        std::fflush(stdout);
    }
    return 0;
}
