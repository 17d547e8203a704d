// Property lists against an independent implementation: Python's plistlib reads what we write,
// and writes what we read, for the values where readers and writers tend to part ways.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "platform/ns/JSONSerialization.h"
#include "platform/ns/PropertyListSerialization.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

using ns::PropertyListSerialization;
using Format = ns::PropertyListSerialization::Format;
using ns::Value;

// "check" loads each file and compares it with the expected value; "make" writes the expected
// value into each file. Values compare by kind and exact bits (-0.0 is not 0.0, 1 is not 1.0).
constexpr const char* kScript = R"(
import json, math, plistlib, sys
from datetime import datetime
from plistlib import UID
inf, nan = float('inf'), float('nan')

def canon(v):
    if isinstance(v, bool): return ('bool', v)
    if isinstance(v, int): return ('int', v)
    if isinstance(v, float): return ('real', 'nan' if math.isnan(v) else v.hex())
    if isinstance(v, str): return ('str', v)
    if isinstance(v, bytes): return ('data', v)
    if isinstance(v, datetime): return ('date', v.isoformat())
    if isinstance(v, UID): return ('uid', v.data)
    if isinstance(v, list): return ('array', tuple(canon(x) for x in v))
    if isinstance(v, dict): return ('dict', tuple(sorted((k, canon(x)) for k, x in v.items())))
    raise TypeError(type(v))

mode, manifest, results = sys.argv[1:4]
out = []
for line in open(manifest, encoding='utf-8'):
    case = json.loads(line)
    expected = eval(case['expected'])
    try:
        if mode == 'check':
            with open(case['file'], 'rb') as f:
                got = plistlib.load(f)
            out.append('ok' if canon(got) == canon(expected) else 'read %r' % (got,))
        else:
            fmt = plistlib.FMT_BINARY if case['format'] == 'binary' else plistlib.FMT_XML
            with open(case['file'], 'wb') as f:
                plistlib.dump(expected, f, fmt=fmt, sort_keys=True)
            out.append('ok')
    except Exception as e:
        out.append('error %r' % (e,))
open(results, 'w', encoding='utf-8').write('\n'.join(out) + '\n')
)";

constexpr double kReference = ns::Date::kReferenceDateOffset;  // 2001-01-01 since 1970

Value date1970(double seconds) {
    return Value(ns::Date::fromTimeIntervalSince1970(seconds));
}

// Kind and exact bits, for comparing what came back with what went out.
std::string canonical(const Value& v) {
    char bits[64];
    switch (v.type()) {
        case Value::Type::Null:
            return "null";
        case Value::Type::Bool:
            return *v.boolean() ? "true" : "false";
        case Value::Type::Integer:
            return "i" + std::to_string(*v.int64());
        case Value::Type::Unsigned:
            return "u" + std::to_string(*v.uint64());
        case Value::Type::Double:
            std::snprintf(bits, sizeof bits, "r%a", *v.number());
            return bits;
        case Value::Type::Date:
            std::snprintf(bits, sizeof bits, "t%a", v.date()->timeIntervalSinceReferenceDate());
            return bits;
        case Value::Type::String:
            return "s" + std::to_string(v.string()->size()) + ":" + *v.string();
        case Value::Type::Data:
            return "x" + v.data()->base64EncodedString();
        case Value::Type::Array: {
            std::string out = "[";
            for (const Value& item : *v.array()) out += canonical(item) + ",";
            return out + "]";
        }
        case Value::Type::Dictionary: {
            std::string out = "{";
            for (const auto& [key, item] : *v.dictionary())
                out += std::to_string(key.size()) + ":" + key + "=" + canonical(item) + ",";
            return out + "}";
        }
    }
    return "?";
}

struct Case {
    const char* name;
    Value value;
    const char* python;  // the same value as a Python expression
    bool xml = true;     // the case holds for the XML format
    bool binary = true;
    bool weWrite = true;          // our writer can produce it
    bool pythonWrites = true;     // Python's writer produces exactly it
    bool pythonWritesXML = true;  // ... in XML too
};

std::vector<Case> cases() {
    const double after2069 = kReference + 2147483648.0;  // 2^31 s after 2001
    return {
        {"integers",
         Value::array({std::numeric_limits<long long>::min(), -1, 0, 255, 256, 65535, 65536,
                       4294967295LL, 4294967296LL, std::numeric_limits<long long>::max(),
                       9223372036854775808ULL, 18446744073709551615ULL}),
         "[-2**63, -1, 0, 255, 256, 65535, 65536, 2**32-1, 2**32, 2**63-1, 2**63, 2**64-1]"},
        {"whole-second dates",
         Value::array({date1970(-2208988800.0), date1970(kReference - 1), date1970(2147483648.0),
                       date1970(after2069), date1970(4102444800.0),
                       Value(ns::Date::distantFuture()), date1970(253402300799.0)}),
         "[datetime(1900,1,1), datetime(2000,12,31,23,59,59), datetime(2038,1,19,3,14,8), "
         "datetime(2069,1,19,3,14,8), datetime(2100,1,1), datetime(4001,1,1), "
         "datetime(9999,12,31,23,59,59)]"},
        {"fractions of seconds in binary",
         Value::array({date1970(kReference - 0.75), date1970(after2069 + 0.5)}),
         "[datetime(2000,12,31,23,59,59,250000), datetime(2069,1,19,3,14,8,500000)]", false},
        {"fractions of seconds near 2001 in binary",
         Value::array({ns::Date::fromTimeIntervalSinceReferenceDate(0.1),
                       ns::Date::fromTimeIntervalSinceReferenceDate(-0.25)}),
         "[datetime(2001,1,1,0,0,0,100000), datetime(2000,12,31,23,59,59,750000)]", false},
        {"fractions of seconds in XML go to the second below",
         Value::array({date1970(kReference - 0.75), date1970(after2069 + 0.5)}),
         "[datetime(2000,12,31,23,59,59), datetime(2069,1,19,3,14,8)]", true, false, true, false},
        {"strings",
         Value::array({"tab\there\nnew line", "<&>]]>\"'", "caf\xC3\xA9 \xF0\x9F\x98\x80", "",
                       "\x7F\xC2\x80"}),
         "['tab\\there\\nnew line', '<&>]]>\"\\'', 'caf\\u00e9 \\U0001F600', '', "
         "'\\x7f\\x80']"},
        // Python writes a raw carriage return into XML, which every reader takes as a line feed.
        {"carriage returns", Value::array({"a\rb\r\nc\r", Value::dict({{"k\r", 1}})}),
         "['a\\rb\\r\\nc\\r', {'k\\r': 1}]", true, true, true, true, false},
        {"NUL in strings and keys",
         Value::array({std::string("a\0b", 3), std::string("\xC3\xA9\0", 3),
                       Value::dict({{std::string("k\0", 2), std::string("\0", 1)}})}),
         "['a\\x00b', '\\u00e9\\x00', {'k\\x00': '\\x00'}]", false},
        // Not 0.0 beside -0.0: Python's binary writer shares objects that compare equal.
        {"reals",
         Value::array({-0.0, 0.1, 5e-324, 1.7976931348623157e308,
                       std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity(), 3.0, -2.5e-300,
                       std::numeric_limits<double>::quiet_NaN()}),
         "[-0.0, 0.1, 5e-324, 1.7976931348623157e308, inf, -inf, 3.0, -2.5e-300, nan]"},
        {"data", Value::array({ns::Data(), ns::Data(std::vector<uint8_t>{0, 1, 0xFF, '<', '&'})}),
         "[b'', b'\\x00\\x01\\xff<&']"},
        {"containers",
         Value::dict({{"", Value::array({})},
                      {"empty dict", Value::dict({})},
                      {"key <&>", 1},
                      {"nested", Value::dict({{"list", Value::array({1, true, false, "x"})}})}}),
         "{'': [], 'empty dict': {}, 'key <&>': 1, 'nested': {'list': [1, True, False, 'x']}}"},
        {"UIDs of every width",
         Value::array({Value::dict({{"CF$UID", 5}}), Value::dict({{"CF$UID", 4294967296LL}}),
                       Value::dict({{"CF$UID", 1099511627776LL}}),
                       Value::dict({{"CF$UID", 18446744073709551615ULL}})}),
         "[UID(5), UID(2**32), UID(2**40), UID(2**64-1)]", false},
    };
}

const char* formatName(Format f) {
    return f == Format::XML ? "xml" : "binary";
}

class PropertyListInterop : public testing::Test {
protected:
    void SetUp() override {
        std::ofstream(dir / "plists.py") << kScript;
        manifest.open(dir / "manifest.jsonl");
    }

    void addToManifest(const std::string& file, Format format, const char* python) {
        auto line = ns::JSONSerialization::write(
            Value::dict({{"file", file}, {"format", formatName(format)}, {"expected", python}}));
        ASSERT_TRUE(line.ok());
        manifest << *line << "\n";
    }

    // Runs the script over the manifest; one result line per entry.
    std::vector<std::string> runPython(const char* mode) {
        manifest.close();
        const std::string results = (dir / "results.txt").string();
        const int status = testsupport::runProgram({"python3", (dir / "plists.py").string(), mode,
                                                    (dir / "manifest.jsonl").string(), results});
        EXPECT_EQ(status, 0) << "python3 could not run the script";
        std::vector<std::string> lines;
        std::ifstream in(results);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    testsupport::TempDir dir;
    std::ofstream manifest;
};

TEST_F(PropertyListInterop, AnIndependentReaderReadsWhatWeWrite) {
    std::vector<std::string> labels;
    for (const Case& c : cases()) {
        if (!c.weWrite) continue;
        for (Format format : {Format::XML, Format::Binary}) {
            if (!(format == Format::XML ? c.xml : c.binary)) continue;
            const std::string label = std::string(c.name) + " (" + formatName(format) + ")";
            auto written = PropertyListSerialization::write(c.value, format);
            ASSERT_TRUE(written.ok()) << label << ": " << written.error().description();
            const std::string file = (dir / ("ours-" + std::to_string(labels.size()))).string();
            std::ofstream(file, std::ios::binary) << written->chars();
            addToManifest(file, format, c.python);
            labels.push_back(label);
        }
    }
    const std::vector<std::string> results = runPython("check");
    ASSERT_EQ(results.size(), labels.size());
    for (size_t i = 0; i < labels.size(); ++i) EXPECT_EQ(results[i], "ok") << labels[i];
}

TEST_F(PropertyListInterop, WeReadWhatAnIndependentWriterWrites) {
    struct Expectation {
        std::string label, file;
        const Value* value;
    };
    std::vector<Expectation> expected;
    const std::vector<Case> all = cases();
    for (const Case& c : all) {
        if (!c.pythonWrites) continue;
        for (Format format : {Format::XML, Format::Binary}) {
            if (format == Format::XML && !(c.xml && c.pythonWritesXML)) continue;
            if (format == Format::Binary && !c.binary) continue;
            const std::string file = (dir / ("theirs-" + std::to_string(expected.size()))).string();
            addToManifest(file, format, c.python);
            expected.push_back(
                {std::string(c.name) + " (" + formatName(format) + ")", file, &c.value});
        }
    }
    const std::vector<std::string> results = runPython("make");
    ASSERT_EQ(results.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(results[i], "ok") << expected[i].label;
        Format detected;
        auto read = PropertyListSerialization::readFile(expected[i].file, &detected);
        ASSERT_TRUE(read.ok()) << expected[i].label << ": " << read.error().description();
        EXPECT_EQ(canonical(*read), canonical(*expected[i].value)) << expected[i].label;
    }
}

}  // namespace
