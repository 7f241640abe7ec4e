// Writes the editors' descriptions of the frei0r filter from the effect's
// parameter table, at build time, so that their names, defaults and ranges
// cannot drift from the filter's:
//   OUTDIR/kdenlive/frei0r_brimtone.xml      Kdenlive's effect description
//   OUTDIR/shotcut/brimtone/parameters.js    the table for Shotcut's QML files
// Usage: brimtone-editor-files OUTDIR
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "plugin/EffectParameters.h"

namespace {

using namespace brimtone;

std::string Number(double value)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

std::string Hex(uint32_t rgb)
{
    char text[8];
    std::snprintf(text, sizeof text, "%06x", unsigned(rgb & 0xFFFFFF));
    return text;
}

std::string EscapeXml(const char* text)
{
    std::string escaped;
    for (const char* c = text; *c; ++c) {
        switch (*c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += *c;
        }
    }
    return escaped;
}

std::string QuoteJs(const char* text)
{
    std::string quoted = "'";
    for (const char* c = text; *c; ++c) {
        if (*c == '\'' || *c == '\\')
            quoted += '\\';
        quoted += *c;
    }
    return quoted + "'";
}

// Kdenlive shows a Percent parameter in percent (factor 100) and keyframes it
// in the timeline; it writes the fraction the filter takes.
std::string KdenliveDescription()
{
    std::string xml =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE kpartgui>\n"
        "<!-- Brimtone in Kdenlive: the frei0r filter brimtone.so. Made from the effect's parameter\n"
        "     table when Brimtone is built. No \"threads\" property: MLT would cut each frame into\n"
        "     bands and the region would apply to every band. -->\n"
        "<effect tag=\"frei0r.brimtone\" id=\"frei0r.brimtone\" type=\"video\">\n"
        "    <name>" + EscapeXml(kEffectName) + "</name>\n"
        "    <description>" + EscapeXml(kEffectSummary) + "</description>\n"
        "    <author>" + EscapeXml(kEffectName) + "</author>\n";
    for (const EffectParameter& parameter : kEffectParameters) {
        xml += "    <parameter name=\"" + std::string(parameter.name) + "\" ";
        switch (parameter.kind) {
        case ParameterKind::Percent:
            xml += "type=\"animated\" default=\"" + Number(parameter.defaultValue / kPercentPerFraction) +
                   "\" min=\"" + Number(parameter.minimum) + "\" max=\"" + Number(parameter.maximum) +
                   "\" factor=\"" + Number(kPercentPerFraction) + "\" decimals=\"" +
                   std::to_string(parameter.decimals) + "\" suffix=\"" + parameter.unit + "\"";
            break;
        case ParameterKind::Colour:
            xml += "type=\"color\" default=\"0x" + Hex(parameter.defaultColour) + "ff\"";
            break;
        case ParameterKind::Switch:
            xml += "type=\"bool\" default=\"" + Number(parameter.defaultValue) + "\"";
            break;
        }
        xml += ">\n        <name>" + EscapeXml(parameter.label) + "</name>\n        <comment>" +
               EscapeXml(parameter.help) + "</comment>\n    </parameter>\n";
    }
    return xml + "</effect>\n";
}

// Values as the filter takes them: fractions for Percent, #rrggbb, 0 or 1.
std::string ShotcutTable()
{
    std::string js =
        "// The effect's parameter table for Brimtone's Shotcut files, made when\n"
        "// Brimtone is built. Values are the filter's: fractions for percent.\n"
        ".pragma library\n\n"
        "var percentPerFraction = " + Number(kPercentPerFraction) + ";\n\n"
        "var parameters = [\n";
    for (const EffectParameter& parameter : kEffectParameters) {
        js += "    {name: " + QuoteJs(parameter.name) + ", label: " + QuoteJs(parameter.label) + ", ";
        switch (parameter.kind) {
        case ParameterKind::Percent:
            js += "kind: 'percent', defaultValue: " + Number(parameter.defaultValue / kPercentPerFraction) +
                  ", minimum: " + Number(parameter.minimum / kPercentPerFraction) +
                  ", maximum: " + Number(parameter.maximum / kPercentPerFraction) +
                  ", decimals: " + std::to_string(parameter.decimals) + ", unit: " + QuoteJs(parameter.unit);
            break;
        case ParameterKind::Colour:
            js += "kind: 'colour', defaultValue: '#" + Hex(parameter.defaultColour) + "'";
            break;
        case ParameterKind::Switch:
            js += "kind: 'switch', defaultValue: " + Number(parameter.defaultValue);
            break;
        }
        js += ",\n     help: " + QuoteJs(parameter.help) + "},\n";
    }
    js += "];\n\n// The parameter of that name.\nfunction byName(name) {\n"
          "    for (var i = 0; i < parameters.length; ++i)\n"
          "        if (parameters[i].name === name)\n"
          "            return parameters[i];\n"
          "    return null;\n}\n";
    return js;
}

bool Write(const std::filesystem::path& path, const std::string& text)
{
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "brimtone-editor-files: cannot write " << path.string() << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: brimtone-editor-files OUTDIR\n";
        return 2;
    }
    const std::filesystem::path out = argv[1];
    return Write(out / "kdenlive" / "frei0r_brimtone.xml", KdenliveDescription()) &&
                   Write(out / "shotcut" / "brimtone" / "parameters.js", ShotcutTable())
               ? 0
               : 1;
}
