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

std::string QvCliDefaultLabel(const std::string& date) {
    std::string digits;
    for (char c : date)
        if (c >= '0' && c <= '9') digits += c;
    if (digits.size() < 12) return "QV" + digits;
    return "QV" + digits.substr(0, 8) + "-" + digits.substr(8, 4);
}

bool QvCliSavePlanRecord(const std::string& dir, const QvCliPlanRecord& record) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("QvSplitPlan");
    root.append_attribute("Date") = record.date.c_str();
    if (!record.label.empty()) root.append_attribute("Label") = record.label.c_str();
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
    if (!record.since.sets.empty()) {
        pugi::xml_node since = root.append_child("Since");
        since.append_attribute("New") = static_cast<unsigned long long>(record.since.newFiles);
        since.append_attribute("Changed") = static_cast<unsigned long long>(record.since.changed);
        since.append_attribute("Unchanged") = static_cast<unsigned long long>(record.since.unchanged);
        since.append_attribute("Deleted") = static_cast<unsigned long long>(record.since.deleted);
        for (const std::string& set : record.since.sets) since.append_child("Set").text() = QvCliShownText(set).c_str();
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
    record.label = root.attribute("Label").value();
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
    if (const pugi::xml_node since = root.child("Since")) {
        record.since.newFiles = since.attribute("New").as_ullong();
        record.since.changed = since.attribute("Changed").as_ullong();
        record.since.unchanged = since.attribute("Unchanged").as_ullong();
        record.since.deleted = since.attribute("Deleted").as_ullong();
        for (pugi::xml_node set : since.children("Set")) record.since.sets.push_back(set.text().get());
    }
    return true;
}

void QvCliRemovePlanRecord(const std::string& dir) {
    std::error_code ec;
    fs::remove(QvCliFsPath(dir) / kQvCliPlanFile, ec);
}
