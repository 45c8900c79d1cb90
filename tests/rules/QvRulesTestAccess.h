// Test access to the rules classes' protected members, and a rules-file builder for tests.
#ifndef QVRULESTESTACCESS_H
#define QVRULESTESTACCESS_H

#include "rules/CQvPathRules.h"
#include "rules/CQvRulesFactory.h"
#include "rules/CQvRulesReader.h"

#include <string>
#include <vector>

class QvPathRulesTestAccess {
public:
    static int Group(const CQvPathRules& r) { return r.iAllTogetherGroup; }
    static DWORD ID(const CQvPathRules& r) { return r.dwID; }
    static std::wstring Path(const CQvPathRules& r) { return r.strPath.str(); }
};

class QvRulesFactoryTestAccess {
public:
    static const QvRules& Rules(CQvRulesFactory* f) { return f->mpRules; }
    static int GroupCounter(CQvRulesFactory* f) { return f->iGroupIDCount; }
    static long GetAction(CQvRulesFactory* f, IQvXmlNode* n, CQvString& s) {
        return f->GetAction(n, s);
    }
    static long GetLocation(CQvRulesFactory* f, IQvXmlNode* n, CQvString& s) {
        return f->GetLocation(n, s);
    }
    static long GetRuleID(CQvRulesFactory* f, IQvXmlNode* n, CQvString& s) {
        return f->GetRuleID(n, s);
    }
    static long GetAllTogether(CQvRulesFactory* f, IQvXmlNode* n, CQvString& s) {
        return f->GetAllTogether(n, s);
    }
    static long GetSourcePath(CQvRulesFactory* f, IQvXmlNode* n, CQvString& s) {
        return f->GetSourcePath(n, s);
    }
    static long GetTargetPath(CQvRulesFactory* f, IQvXmlNode* n, CQvString& s) {
        return f->GetTargetPath(n, s);
    }
};

class QvRulesReaderTestAccess {
public:
    static CQvRulesFactory* Factory(CQvRulesReader* r) { return r->pRulesFactory; }
    static IQvXml* LastXml(CQvRulesReader* r) { return r->pXml; }
};

namespace qvtest {

// One rule element as text; empty fields leave the attribute or child out.
struct RuleText {
    std::string action;
    std::string location;
    std::string source;
    std::string target;
    std::string id;
    std::string allTogether;
};

inline std::string RuleElement(const RuleText& r, const std::string& name = "Rule") {
    std::string s = "  <" + name;
    if (!r.id.empty()) s += " RuleID=\"" + r.id + "\"";
    if (!r.action.empty()) s += " Action=\"" + r.action + "\"";
    if (!r.allTogether.empty()) s += " AllTogether=\"" + r.allTogether + "\"";
    if (!r.location.empty()) s += " Location=\"" + r.location + "\"";
    s += ">";
    if (!r.source.empty()) s += "<SourcePath>" + r.source + "</SourcePath>";
    if (!r.target.empty()) s += "<TargetPath>" + r.target + "</TargetPath>";
    s += "</" + name + ">\n";
    return s;
}

inline std::string RulesDocument(const std::vector<RuleText>& rules) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RulesFile>\n";
    for (const RuleText& r : rules) s += RuleElement(r);
    return s + "</RulesFile>\n";
}

}  // namespace qvtest

#endif
