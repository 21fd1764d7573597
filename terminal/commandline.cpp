#include "commandline.h"

#include "delimitersets.h"
#include "nativefolder.h"

#include <QCommandLineParser>

namespace {

constexpr const char *kTryHelp = "\nPruebe «dovezurad --help» para más información.";

CommandLine refused(std::string message)
{
    CommandLine command;
    command.action = CommandLine::Action::Refused;
    command.message = std::move(message);
    return command;
}

// A pair of delimiters "XY" for one option: X from the left set, Y from the right one, refused
// with the field's own message otherwise. Returns the refusal, or empty.
std::string readPair(const QString &option, const QString &value, std::string &left,
                     std::string &right)
{
    const QList<uint> characters = value.toUcs4();
    if (characters.size() != 2)
        return "--" + option.toStdString() +
               " necesita dos caracteres: el delimitador izquierdo y el derecho, por ejemplo "
               "'{}'.";
    const auto take = [](uint character, std::string_view set, std::string_view message,
                         std::string &field) -> std::string {
        if (character > 0x7f || set.find(static_cast<char>(character)) == std::string_view::npos)
            return std::string(message);
        field = std::string(1, static_cast<char>(character));
        return {};
    };
    std::string refusal =
        take(characters[0], DelimiterSets::kLeftSet, DelimiterSets::kLeftMessage, left);
    if (refusal.empty())
        refusal =
            take(characters[1], DelimiterSets::kRightSet, DelimiterSets::kRightMessage, right);
    return refusal;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption cambiar(QStringLiteral("cambiar"), QString(), QStringLiteral("XY"));
    const QCommandLineOption por(QStringLiteral("por"), QString(), QStringLiteral("XY"));
    const QCommandLineOption si(QStringLiteral("si"));
    parser.addOptions({help, version, cambiar, por, si});

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return refused(std::string("Opción desconocida: ") +
                           (unknown.first().size() == 1 ? "-" : "--") +
                           unknown.first().toStdString() + '.' + kTryHelp);
        return refused(std::string("Falta el valor de --cambiar o --por.") + kTryHelp);
    }

    CommandLine command;
    if (parser.isSet(help)) {
        command.action = CommandLine::Action::Help;
        return command;
    }
    if (parser.isSet(version)) {
        command.action = CommandLine::Action::Version;
        return command;
    }

    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1)
        return refused(std::string("Se admite una sola carpeta.") + kTryHelp);
    if (!folders.isEmpty())
        command.folder = NativeFolder::fromQtPath(folders.first());

    if (!parser.isSet(cambiar) && !parser.isSet(por)) {
        if (parser.isSet(si))
            return refused(std::string("--si solo vale junto con --cambiar y --por.") + kTryHelp);
        return command;
    }
    if (!parser.isSet(cambiar) || !parser.isSet(por))
        return refused(std::string("--cambiar y --por van juntos.") + kTryHelp);
    if (parser.values(cambiar).size() > 1 || parser.values(por).size() > 1)
        return refused(std::string("--cambiar y --por se dan una sola vez.") + kTryHelp);

    std::string refusal = readPair(QStringLiteral("cambiar"), parser.value(cambiar),
                                   command.cierreIz, command.cierreDer);
    if (refusal.empty())
        refusal = readPair(QStringLiteral("por"), parser.value(por), command.newCierreIz,
                           command.newCierreDer);
    if (!refusal.empty())
        return refused(refusal);
    command.action = CommandLine::Action::Rewrite;
    command.yes = parser.isSet(si);
    return command;
}

std::string helpText()
{
    return "Uso: dovezurad [CARPETA]\n"
           "  o: dovezurad --cambiar XY --por XY [--si] [CARPETA]\n"
           "\n"
           "Cambia los delimitadores de las etiquetas de los scripts \"*.txt\" de CARPETA\n"
           "(por omisión, la carpeta actual). Sin --cambiar abre la ventana en CARPETA.\n"
           "\n"
           "Opciones:\n"
           "  --cambiar XY   los delimitadores actuales: X el izquierdo, Y el derecho\n"
           "  --por XY       los delimitadores nuevos: X el izquierdo, Y el derecho\n"
           "  --si           responde «sí» a la confirmación; sin una terminal es obligatoria\n"
           "  -h, --help     muestra esta ayuda y termina\n"
           "  -v, --version  muestra la versión y termina\n"
           "\n"
           "Izquierdos permitidos: { [ ( < / \\ ~\n"
           "Derechos permitidos:   } ] ) > / \\ ~\n"
           "\n"
           "Estado de salida: 0 si todo fue bien o no había scripts, 1 si no se confirmó,\n"
           "2 si la orden no es válida, y si falla un script, el número del error\n"
           "(53 archivo no encontrado, 70 permiso denegado, 75 error de acceso, ...).\n"
           "\n"
           "Ejemplo: dovezurad --cambiar '{}' --por '<>' --si ~/scripts\n";
}

std::string versionText()
{
    return std::string("dovezurad ") + DOVEZURAD_VERSION + '\n';
}
