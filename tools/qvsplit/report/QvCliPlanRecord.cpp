// The plan record beside the media files, kept as a small XML file.
#include "report/QvCliPlanRecord.h"

#include "system/QvCliPaths.h"

#include <pugixml.hpp>

#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

const char* const kQvCliPlanFile = "qvsplit-plan.xml";

std::string QvCliShownText(const std::string& hostText) {
    std::wstring wide = QvCliWiden(hostText);
    for (wchar_t& c : wide)
        if (c < 0x20 || c == 0x7F) c = static_cast<wchar_t>(0xF000 + c);
    return QvCliNarrow(wide);
}

std::string QvCliNowText() {
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    if (const std::tm* local = std::localtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", local);
    return text;
}

bool QvCliSavePlanRecord(const std::string& dir, const QvCliPlanRecord& record) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("QvSplitPlan");
    root.append_attribute("Date") = record.date.c_str();
    root.append_attribute("FileSystem") = record.fileSystem.c_str();
    root.append_attribute("SizeMB") = record.sizeMb;
    root.append_attribute("CapacityBytes") = static_cast<unsigned long long>(record.capacityBytes);
    root.append_attribute("CatalogReserve") = static_cast<unsigned long long>(record.catalogReserve);
    pugi::xml_node command = root.append_child("Command");
    for (const std::string& a : record.arguments)
        command.append_child("Argument").text() = QvCliShownText(a).c_str();
    for (const QvCliDroppedRule& r : record.dropped) {
        pugi::xml_node rule = root.append_child("DroppedRule");
        rule.append_attribute("Rule") = r.rule;
        rule.append_attribute("Reason") = r.reason.c_str();
        rule.text() = QvCliShownText(r.path).c_str();
    }
    const fs::path file = QvCliFsPath(dir) / kQvCliPlanFile;
    return doc.save_file(file.c_str(), "  ", pugi::format_default, pugi::encoding_utf8);
}

bool QvCliLoadPlanRecord(const std::string& dir, QvCliPlanRecord& record) {
    record = QvCliPlanRecord();
    pugi::xml_document doc;
    const fs::path file = QvCliFsPath(dir) / kQvCliPlanFile;
    if (!doc.load_file(file.c_str())) return false;
    const pugi::xml_node root = doc.child("QvSplitPlan");
    if (!root) return false;
    record.date = root.attribute("Date").value();
    record.fileSystem = root.attribute("FileSystem").value();
    record.sizeMb = root.attribute("SizeMB").as_uint();
    record.capacityBytes = root.attribute("CapacityBytes").as_ullong();
    record.catalogReserve = root.attribute("CatalogReserve").as_ullong();
    for (pugi::xml_node a : root.child("Command").children("Argument")) record.arguments.push_back(a.text().get());
    for (pugi::xml_node r : root.children("DroppedRule")) {
        QvCliDroppedRule rule;
        rule.rule = r.attribute("Rule").as_int();
        rule.reason = r.attribute("Reason").value();
        rule.path = r.text().get();
        record.dropped.push_back(std::move(rule));
    }
    return true;
}

void QvCliRemovePlanRecord(const std::string& dir) {
    std::error_code ec;
    fs::remove(QvCliFsPath(dir) / kQvCliPlanFile, ec);
}
