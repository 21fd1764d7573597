#include "commandline.h"

#include "delimitersets.h"
#include "nativepaths.h"

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

// Each argument goes through the parser byte for byte: Latin-1 gives every byte a character of
// its own and back, so a folder comes out exactly as it was given, whatever its encoding. Option
// names and values are text, read as UTF-8 once parsed.
QString carried(std::string_view bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString text(const QString &carriedBytes)
{
    return QString::fromUtf8(carriedBytes.toLatin1());
}

// One delimiter of a pair: a character of its side's set, refused naming the option, the
// character and the side, then the field's own message.
std::string take(char32_t character, std::string_view option, std::string_view side,
                 std::string_view set, std::string_view allowed, std::string &field)
{
    if (character <= 0x7f && set.find(static_cast<char>(character)) != std::string_view::npos) {
        field = std::string(1, static_cast<char>(character));
        return {};
    }
    return "--" + std::string(option) + ": «" + QString::fromUcs4(&character, 1).toStdString() +
           "» no es un delimitador " + std::string(side) + " permitido\n" + std::string(allowed);
}

// A pair of delimiters "XY" for one option: X from the left set, Y from the right one. Returns
// the refusal, or empty.
std::string readPair(std::string_view option, const QString &value, std::string &left,
                     std::string &right)
{
    const QList<uint> characters = value.toUcs4();
    if (characters.size() != 2)
        return "--" + std::string(option) +
               " necesita dos caracteres: el delimitador izquierdo y el derecho, por ejemplo "
               "'{}'.";
    std::string refusal = take(characters[0], option, "izquierdo", DelimiterSets::kLeftSet,
                               DelimiterSets::kLeftMessage, left);
    if (refusal.empty())
        refusal = take(characters[1], option, "derecho", DelimiterSets::kRightSet,
                       DelimiterSets::kRightMessage, right);
    return refusal;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string> &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption cambiar(QStringLiteral("cambiar"), QString(), QStringLiteral("XY"));
    const QCommandLineOption por(QStringLiteral("por"), QString(), QStringLiteral("XY"));
    const QCommandLineOption si(QStringList{QStringLiteral("si"), carried("sí")});
    const QCommandLineOption simular(QStringLiteral("simular"));
    const QCommandLineOption deshacer(QStringLiteral("deshacer"));
    parser.addOptions({help, version, cambiar, por, si, simular, deshacer});

    QStringList carriedArguments;
    for (const std::string &argument : arguments)
        carriedArguments.push_back(carried(argument));
    if (!parser.parse(carriedArguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return refused(std::string("Opción desconocida: ") +
                           (unknown.first().size() == 1 ? "-" : "--") +
                           text(unknown.first()).toStdString() + '.' + kTryHelp);
        // Only the last argument can lack its value.
        const std::string last = arguments.empty() ? std::string() : arguments.back();
        const char *option = last.ends_with("por") ? "--por" : "--cambiar";
        return refused(std::string("Falta el valor de ") + option + '.' + kTryHelp);
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
        command.folder = folders.first().toLatin1().toStdString();

    if (parser.isSet(deshacer)) {
        if (parser.isSet(cambiar) || parser.isSet(por) || parser.isSet(simular))
            return refused(
                std::string("--deshacer no va junto con --cambiar, --por ni --simular.") +
                kTryHelp);
        command.action = CommandLine::Action::Undo;
        command.yes = parser.isSet(si);
        return command;
    }
    if (!parser.isSet(cambiar) && !parser.isSet(por)) {
        if (parser.isSet(si))
            return refused(
                std::string("--si solo vale junto con --cambiar y --por, o con --deshacer.") +
                kTryHelp);
        if (parser.isSet(simular))
            return refused(std::string("--simular solo vale junto con --cambiar y --por.") +
                           kTryHelp);
        return command;
    }
    if (!parser.isSet(cambiar) || !parser.isSet(por))
        return refused(std::string("--cambiar y --por van juntos.") + kTryHelp);
    if (parser.values(cambiar).size() > 1 || parser.values(por).size() > 1)
        return refused(std::string("--cambiar y --por se dan una sola vez.") + kTryHelp);

    std::string refusal =
        readPair("cambiar", text(parser.value(cambiar)), command.cierreIz, command.cierreDer);
    if (refusal.empty())
        refusal =
            readPair("por", text(parser.value(por)), command.newCierreIz, command.newCierreDer);
    if (!refusal.empty())
        return refused(refusal);
    command.action = CommandLine::Action::Rewrite;
    command.yes = parser.isSet(si);
    command.dryRun = parser.isSet(simular);
    return command;
}

std::string helpText()
{
    return "Uso: dovezurad [CARPETA]\n"
           "  o: dovezurad --cambiar XY --por XY [--si] [CARPETA]\n"
           "  o: dovezurad --simular --cambiar XY --por XY [CARPETA]\n"
           "  o: dovezurad --deshacer [--si] [CARPETA]\n"
           "\n"
           "Cambia los delimitadores de las etiquetas de los scripts \"*.txt\" de CARPETA\n"
           "(por omisión, la carpeta actual). Sin --cambiar abre la ventana en CARPETA.\n"
           "Quita los espacios de ambos extremos de cada script.\n"
           "No entra en las subcarpetas de CARPETA.\n"
           "Guarda los originales en CARPETA/.dovezurad.deshacer, para --deshacer.\n"
           "Al terminar dice cuántos cambiaron («n de N scripts cambiados», en la salida\n"
           "de errores) y después «¡Etiquetas modificadas!».\n"
           "\n"
           "Opciones:\n"
           "  --cambiar XY   los delimitadores actuales: X el izquierdo, Y el derecho\n"
           "  --por XY       los delimitadores nuevos: X el izquierdo, Y el derecho\n"
           "  --deshacer     restaura los scripts que cambió la última ejecución en CARPETA,\n"
           "                 salvo los modificados después (se nombran y no se tocan)\n"
           "  --si, --sí     responde «sí» a la confirmación; sin una terminal es obligatoria\n"
           "  --simular      no modifica nada: lista cada script que cambiaría, con los\n"
           "                 espacios que se quitarían y los delimitadores que se cambiarían,\n"
           "                 y los que no se pudieron leer, con su error; termina con\n"
           "                 «n de N scripts cambiarían» y el número del primer error\n"
           "  -h, --help     muestra esta ayuda y termina\n"
           "  -v, --version  muestra la versión y termina\n"
           "\n"
           "Izquierdos permitidos: { [ ( < / \\ ~\n"
           "Derechos permitidos:   } ] ) > / \\ ~\n"
           "\n"
           "Estado de salida: 0 si todo fue bien o no había scripts, 1 si no se confirmó,\n"
           "2 si la orden no es válida, 128 más el número de la señal si se interrumpió\n"
           "(130 con Ctrl+C, 143 con SIGTERM, 129 con SIGHUP), y si falla un script o no\n"
           "se puede leer la carpeta, el número del error (53 archivo no encontrado,\n"
           "70 permiso denegado, 75 error de acceso, 76 no existe la carpeta, ...).\n"
           "Con --deshacer: 0 si se restauró todo o no había nada que deshacer, 1 si no\n"
           "se confirmó, 3 si algunos scripts cambiaron después o no se pudieron guardar\n"
           "y se dejaron como están, y el número del error si algo falla.\n"
           "\n"
           "Ejemplo: dovezurad --cambiar '{}' --por '<>' --si ~/scripts\n";
}

std::string versionText()
{
    return std::string("dovezurad ") + DOVEZURAD_VERSION + '\n';
}
