#include "nativepaths.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QStringDecoder>

#include <algorithm>
#include <numeric>

namespace NativePaths {

namespace {

QCollator makeCollator()
{
    // The "C" locale of servers and containers would fall back to plain code-point order; the
    // platform's file dialogs sort numbers by value whatever the locale, so use a real one.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

QString displayName(std::string_view nativeName)
{
    const auto size = static_cast<qsizetype>(nativeName.size());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(nativeName.data(), size));
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(nativeName.data(), size);
}

void sortByName(std::vector<std::string> &nativeNames)
{
    const QCollator collator = makeCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(nativeNames.size());
    for (const std::string &name : nativeNames)
        keys.push_back(collator.sortKey(displayName(name)));
    std::vector<std::size_t> order(nativeNames.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int compared = keys[a].compare(keys[b]);
        // Names equal to the collator ("a.txt", "A.txt") still need a fixed order.
        return compared != 0 ? compared < 0 : nativeNames[a] < nativeNames[b];
    });
    std::vector<std::string> sorted;
    sorted.reserve(nativeNames.size());
    for (std::size_t index : order)
        sorted.push_back(std::move(nativeNames[index]));
    nativeNames = std::move(sorted);
}

// The standard library takes char8_t text as UTF-8 on Windows and as the bytes themselves on
// POSIX: both are what a native path holds here.
std::filesystem::path toPath(std::string_view nativePath)
{
    return std::u8string(nativePath.begin(), nativePath.end());
}

std::string fromPath(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

} // namespace NativePaths
