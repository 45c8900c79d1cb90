// The process-wide rules catalogue: every path rule, keyed by source path.
#ifndef CQVRULESFACTORY_H
#define CQVRULESFACTORY_H

#include "common/QvRecords.h"
#include "facilities/QvXml.h"
#include "rules/CQvPathRules.h"

class QVSPLIT_API CQvRulesFactory {
public:
    static CQvRulesFactory* GetInstance();
    virtual ~CQvRulesFactory();

    // Reads one rule element into the catalogue: a new rule, or a merge into the rule held for
    // the same source path.
    long AddToCatalog(IQvXmlNode* pRuleNode);
    // Number of AllTogether group numbers handed out so far.
    int GetGroupIDCount();
    // The rules with at least one include location, in key order (shared, not copied).
    void GetIncludeRules(QvRules& mpRules);
    // The rules with at least one exclude location, in key order.
    void GetExcludeRules(QvRules& mpRules);
    // Deletes every rule; the group counter keeps counting.
    void ResetRulesCatalog();
    // Exported for compatibility; always E_FAIL.
    long CheckConstensy();

protected:
    CQvRulesFactory();

    long GetAction(IQvXmlNode* pRuleNode, CQvString& strAction);
    long GetLocation(IQvXmlNode* pRuleNode, CQvString& strLocation);
    long GetRuleID(IQvXmlNode* pRuleNode, CQvString& strRuleID);
    long GetAllTogether(IQvXmlNode* pRuleNode, CQvString& strAllTogether);
    long GetSourcePath(IQvXmlNode* pRuleNode, CQvString& strPathSource);
    long GetTargetPath(IQvXmlNode* pRuleNode, CQvString& strTargetPath);
    // Reads a further element for a source path already held and merges it into its rule.
    void MergeIntoRule(IQvXmlNode* pRuleNode, CQvPathRules* pRule);

    QvRules mpRules;
    int iGroupIDCount;

private:
    static CQvRulesFactory* pInstance;
    friend class QvRulesFactoryTestAccess;
};

#endif
