#include "toolbox/Foundation/NSString+TBXNSStringHTMLAdditions.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

#include "platform/ns/UTF16.h"

namespace {

constexpr std::array<TBXHTMLEscapeMap, 253> kFullTable{{
    {"&quot;", 34},      {"&amp;", 38},      {"&apos;", 39},      {"&lt;", 60},
    {"&gt;", 62},        {"&nbsp;", 160},    {"&iexcl;", 161},    {"&cent;", 162},
    {"&pound;", 163},    {"&curren;", 164},  {"&yen;", 165},      {"&brvbar;", 166},
    {"&sect;", 167},     {"&uml;", 168},     {"&copy;", 169},     {"&ordf;", 170},
    {"&laquo;", 171},    {"&not;", 172},     {"&shy;", 173},      {"&reg;", 174},
    {"&macr;", 175},     {"&deg;", 176},     {"&plusmn;", 177},   {"&sup2;", 178},
    {"&sup3;", 179},     {"&acute;", 180},   {"&micro;", 181},    {"&para;", 182},
    {"&middot;", 183},   {"&cedil;", 184},   {"&sup1;", 185},     {"&ordm;", 186},
    {"&raquo;", 187},    {"&frac14;", 188},  {"&frac12;", 189},   {"&frac34;", 190},
    {"&iquest;", 191},   {"&Agrave;", 192},  {"&Aacute;", 193},   {"&Acirc;", 194},
    {"&Atilde;", 195},   {"&Auml;", 196},    {"&Aring;", 197},    {"&AElig;", 198},
    {"&Ccedil;", 199},   {"&Egrave;", 200},  {"&Eacute;", 201},   {"&Ecirc;", 202},
    {"&Euml;", 203},     {"&Igrave;", 204},  {"&Iacute;", 205},   {"&Icirc;", 206},
    {"&Iuml;", 207},     {"&ETH;", 208},     {"&Ntilde;", 209},   {"&Ograve;", 210},
    {"&Oacute;", 211},   {"&Ocirc;", 212},   {"&Otilde;", 213},   {"&Ouml;", 214},
    {"&times;", 215},    {"&Oslash;", 216},  {"&Ugrave;", 217},   {"&Uacute;", 218},
    {"&Ucirc;", 219},    {"&Uuml;", 220},    {"&Yacute;", 221},   {"&THORN;", 222},
    {"&szlig;", 223},    {"&agrave;", 224},  {"&aacute;", 225},   {"&acirc;", 226},
    {"&atilde;", 227},   {"&auml;", 228},    {"&aring;", 229},    {"&aelig;", 230},
    {"&ccedil;", 231},   {"&egrave;", 232},  {"&eacute;", 233},   {"&ecirc;", 234},
    {"&euml;", 235},     {"&igrave;", 236},  {"&iacute;", 237},   {"&icirc;", 238},
    {"&iuml;", 239},     {"&eth;", 240},     {"&ntilde;", 241},   {"&ograve;", 242},
    {"&oacute;", 243},   {"&ocirc;", 244},   {"&otilde;", 245},   {"&ouml;", 246},
    {"&divide;", 247},   {"&oslash;", 248},  {"&ugrave;", 249},   {"&uacute;", 250},
    {"&ucirc;", 251},    {"&uuml;", 252},    {"&yacute;", 253},   {"&thorn;", 254},
    {"&yuml;", 255},     {"&OElig;", 338},   {"&oelig;", 339},    {"&Scaron;", 352},
    {"&scaron;", 353},   {"&Yuml;", 376},    {"&fnof;", 402},     {"&circ;", 710},
    {"&tilde;", 732},    {"&Alpha;", 913},   {"&Beta;", 914},     {"&Gamma;", 915},
    {"&Delta;", 916},    {"&Epsilon;", 917}, {"&Zeta;", 918},     {"&Eta;", 919},
    {"&Theta;", 920},    {"&Iota;", 921},    {"&Kappa;", 922},    {"&Lambda;", 923},
    {"&Mu;", 924},       {"&Nu;", 925},      {"&Xi;", 926},       {"&Omicron;", 927},
    {"&Pi;", 928},       {"&Rho;", 929},     {"&Sigma;", 931},    {"&Tau;", 932},
    {"&Upsilon;", 933},  {"&Phi;", 934},     {"&Chi;", 935},      {"&Psi;", 936},
    {"&Omega;", 937},    {"&alpha;", 945},   {"&beta;", 946},     {"&gamma;", 947},
    {"&delta;", 948},    {"&epsilon;", 949}, {"&zeta;", 950},     {"&eta;", 951},
    {"&theta;", 952},    {"&iota;", 953},    {"&kappa;", 954},    {"&lambda;", 955},
    {"&mu;", 956},       {"&nu;", 957},      {"&xi;", 958},       {"&omicron;", 959},
    {"&pi;", 960},       {"&rho;", 961},     {"&sigmaf;", 962},   {"&sigma;", 963},
    {"&tau;", 964},      {"&upsilon;", 965}, {"&phi;", 966},      {"&chi;", 967},
    {"&psi;", 968},      {"&omega;", 969},   {"&thetasym;", 977}, {"&upsih;", 978},
    {"&piv;", 982},      {"&ensp;", 8194},   {"&emsp;", 8195},    {"&thinsp;", 8201},
    {"&zwnj;", 8204},    {"&zwj;", 8205},    {"&lrm;", 8206},     {"&rlm;", 8207},
    {"&ndash;", 8211},   {"&mdash;", 8212},  {"&lsquo;", 8216},   {"&rsquo;", 8217},
    {"&sbquo;", 8218},   {"&ldquo;", 8220},  {"&rdquo;", 8221},   {"&bdquo;", 8222},
    {"&dagger;", 8224},  {"&Dagger;", 8225}, {"&bull;", 8226},    {"&hellip;", 8230},
    {"&permil;", 8240},  {"&prime;", 8242},  {"&Prime;", 8243},   {"&lsaquo;", 8249},
    {"&rsaquo;", 8250},  {"&oline;", 8254},  {"&frasl;", 8260},   {"&euro;", 8364},
    {"&image;", 8465},   {"&weierp;", 8472}, {"&real;", 8476},    {"&trade;", 8482},
    {"&alefsym;", 8501}, {"&larr;", 8592},   {"&uarr;", 8593},    {"&rarr;", 8594},
    {"&darr;", 8595},    {"&harr;", 8596},   {"&crarr;", 8629},   {"&lArr;", 8656},
    {"&uArr;", 8657},    {"&rArr;", 8658},   {"&dArr;", 8659},    {"&hArr;", 8660},
    {"&forall;", 8704},  {"&part;", 8706},   {"&exist;", 8707},   {"&empty;", 8709},
    {"&nabla;", 8711},   {"&isin;", 8712},   {"&notin;", 8713},   {"&ni;", 8715},
    {"&prod;", 8719},    {"&sum;", 8721},    {"&minus;", 8722},   {"&lowast;", 8727},
    {"&radic;", 8730},   {"&prop;", 8733},   {"&infin;", 8734},   {"&ang;", 8736},
    {"&and;", 8743},     {"&or;", 8744},     {"&cap;", 8745},     {"&cup;", 8746},
    {"&int;", 8747},     {"&there4;", 8756}, {"&sim;", 8764},     {"&cong;", 8773},
    {"&asymp;", 8776},   {"&ne;", 8800},     {"&equiv;", 8801},   {"&le;", 8804},
    {"&ge;", 8805},      {"&sub;", 8834},    {"&sup;", 8835},     {"&nsub;", 8836},
    {"&sube;", 8838},    {"&supe;", 8839},   {"&oplus;", 8853},   {"&otimes;", 8855},
    {"&perp;", 8869},    {"&sdot;", 8901},   {"&lceil;", 8968},   {"&rceil;", 8969},
    {"&lfloor;", 8970},  {"&rfloor;", 8971}, {"&lang;", 9001},    {"&rang;", 9002},
    {"&loz;", 9674},     {"&spades;", 9824}, {"&clubs;", 9827},   {"&hearts;", 9829},
    {"&diams;", 9830},
}};

constexpr std::array<TBXHTMLEscapeMap, 33> kSpecialTable{{
    {"&quot;", 34},     {"&amp;", 38},      {"&apos;", 39},     {"&lt;", 60},
    {"&gt;", 62},       {"&OElig;", 338},   {"&oelig;", 339},   {"&Scaron;", 352},
    {"&scaron;", 353},  {"&Yuml;", 376},    {"&circ;", 710},    {"&tilde;", 732},
    {"&ensp;", 8194},   {"&emsp;", 8195},   {"&thinsp;", 8201}, {"&zwnj;", 8204},
    {"&zwj;", 8205},    {"&lrm;", 8206},    {"&rlm;", 8207},    {"&ndash;", 8211},
    {"&mdash;", 8212},  {"&lsquo;", 8216},  {"&rsquo;", 8217},  {"&sbquo;", 8218},
    {"&ldquo;", 8220},  {"&rdquo;", 8221},  {"&bdquo;", 8222},  {"&dagger;", 8224},
    {"&Dagger;", 8225}, {"&permil;", 8240}, {"&lsaquo;", 8249}, {"&rsaquo;", 8250},
    {"&euro;", 8364},
}};

constexpr bool sortedByUnit(std::span<const TBXHTMLEscapeMap> table) {
    return std::is_sorted(table.begin(), table.end(),
                          [](const auto& a, const auto& b) { return a.uchar < b.uchar; });
}
static_assert(sortedByUnit(kFullTable) && sortedByUnit(kSpecialTable),
              "escaping finds entities by binary search");

// Entities are 4 to 10 characters long, "&" and ";" included.
constexpr size_t kMinEntityLength = 4;
constexpr size_t kMaxEntityLength = 10;

const TBXHTMLEscapeMap* findUnit(std::span<const TBXHTMLEscapeMap> table, char16_t unit) {
    auto it = std::lower_bound(table.begin(), table.end(), unit,
                               [](const auto& entry, char16_t u) { return entry.uchar < u; });
    return it != table.end() && it->uchar == unit ? &*it : nullptr;
}

void appendEscapedUnit(std::string& out, std::span<const TBXHTMLEscapeMap> table, char16_t unit,
                       bool escapingUnicode) {
    if (const auto* entry = findUnit(table, unit)) {
        out += entry->escapeSequence;
    } else if (escapingUnicode && unit >= 128) {
        out += "&#" + std::to_string(unit) + ";";
    } else {
        ns::appendUTF8(out, unit);
    }
}

int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

// The unit that "&#N;" or "&#xH;" stands for: the whole field must be digits, and the value a
// character of the basic plane (surrogate halves and U+FFFF stand for nothing).
std::optional<char16_t> numericReference(std::string_view entity) {
    std::string_view field = entity.substr(2, entity.size() - 3);
    int base = 10;
    if (!field.empty() && (field[0] == 'x' || field[0] == 'X')) {
        base = 16;
        field.remove_prefix(1);
    }
    if (field.empty()) return std::nullopt;
    uint32_t value = 0;
    for (char c : field) {
        const int d = digitValue(c, base);
        if (d < 0) return std::nullopt;
        value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
    }
    if (value < 1 || value > 0xFFFE || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    return static_cast<char16_t>(value);
}

std::optional<char16_t> namedEntity(std::string_view entity) {
    static const std::unordered_map<std::string_view, char16_t> byName = [] {
        std::unordered_map<std::string_view, char16_t> map;
        for (const auto& entry : kFullTable) map.emplace(entry.escapeSequence, entry.uchar);
        return map;
    }();
    auto it = byName.find(entity);
    if (it == byName.end()) return std::nullopt;
    return it->second;
}

std::optional<char16_t> resolveEntity(std::string_view entity) {
    if (entity.size() < kMinEntityLength || entity.size() > kMaxEntityLength) return std::nullopt;
    if (entity[1] == '#') return numericReference(entity);
    return namedEntity(entity);
}

}  // namespace

const std::span<const TBXHTMLEscapeMap> kTBXHTMLEscapeTable(kFullTable);
const std::span<const TBXHTMLEscapeMap> kTBXHTMLSpecialEscapeTable(kSpecialTable);

std::string tbx_stringByEscapingHTMLUsingTable(std::string_view string,
                                               std::span<const TBXHTMLEscapeMap> table,
                                               bool escapingUnicode) {
    std::string out;
    out.reserve(string.size() + string.size() / 8);
    size_t runStart = 0;
    size_t i = 0;
    while (i < string.size()) {
        const size_t start = i;
        bool malformed = false;
        const char32_t c = ns::nextCodePoint(string, i, &malformed);
        const bool astral = c >= 0x10000;
        // Malformed bytes are not copied as they stand: they become U+FFFD.
        const bool copied = astral ? !escapingUnicode
                                   : !findUnit(table, static_cast<char16_t>(c)) &&
                                         !(escapingUnicode && c >= 128) && !malformed;
        if (copied) continue;  // gathered into the run
        out.append(string.substr(runStart, start - runStart));
        runStart = i;
        if (astral) {
            appendEscapedUnit(out, table, static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                              escapingUnicode);
            appendEscapedUnit(out, table, static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)),
                              escapingUnicode);
        } else {
            appendEscapedUnit(out, table, static_cast<char16_t>(c), escapingUnicode);
        }
    }
    out.append(string.substr(runStart));
    return out;
}

std::string tbx_stringByEscapingForHTML(std::string_view string) {
    return tbx_stringByEscapingHTMLUsingTable(string, kTBXHTMLSpecialEscapeTable, false);
}

std::string tbx_stringByEscapingForAsciiHTML(std::string_view string) {
    return tbx_stringByEscapingHTMLUsingTable(string, kTBXHTMLEscapeTable, true);
}

// One pass from the front. Each "&" is resolved against the text up to the next "&" of the
// input, so a resolved character never becomes part of another entity.
std::string tbx_stringByUnescapingFromHTML(std::string_view string) {
    size_t amp = string.find('&');
    if (amp == std::string_view::npos) return std::string(string);
    std::string out;
    out.reserve(string.size());
    size_t copied = 0;
    while (amp != std::string_view::npos) {
        const size_t nextAmp = string.find('&', amp + 1);
        const size_t limit = std::min(nextAmp, string.size());
        const size_t semicolon = string.substr(0, limit).find(';', amp + 1);
        if (semicolon != std::string_view::npos) {
            if (auto unit = resolveEntity(string.substr(amp, semicolon + 1 - amp))) {
                out.append(string.substr(copied, amp - copied));
                ns::appendUTF8(out, *unit);
                copied = semicolon + 1;
            }
        }
        amp = nextAmp;
    }
    out.append(string.substr(copied));
    return out;
}
