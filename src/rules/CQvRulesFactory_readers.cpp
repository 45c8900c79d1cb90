// The rules catalogue's element readers: attribute values and child texts of a rule element.
#include "rules/CQvRulesFactory.h"

#include "facilities/CQvLog.h"

namespace {

// Messages of one attribute reader.
struct AttributeTexts {
    const wchar_t* pszEntry;
    const wchar_t* pszAttribute;
    const wchar_t* pszNullNode;
    const wchar_t* pszNoAttribute;
    const wchar_t* pszNoValue;
};

// Messages of one child-text reader.
struct ChildTexts {
    const wchar_t* pszEntry;
    const wchar_t* pszElement;
    const wchar_t* pszNullNode;
    const wchar_t* pszChildAt;
    const wchar_t* pszNoName;
    const wchar_t* pszNoText;
};

// Reads one attribute as text; a missing value leaves strValue empty but still succeeds.
long ReadAttribute(IQvXmlNode* pRuleNode, CQvString& strValue, const AttributeTexts& t) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(t.pszEntry);
    strValue.Empty();
    if (!pRuleNode) {
        log->AddError(t.pszNullNode);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    QvXmlHeld<IQvXmlAttribute> attribute;
    if (pRuleNode->GetAttribute(t.pszAttribute, attribute.Out()) < 0 || !attribute) {
        log->AddError(t.pszNoAttribute);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    const QvBstrHeld value(attribute->GetStringValue());
    if (value)
        strValue = value.Get();
    else
        log->AddError(t.pszNoValue);
    return log->ExitFunction(static_cast<long>(S_OK));
}

// Reads one child's name into strName; false when the facility gives none.
bool ReadName(IQvXmlNode* pChild, CQvString& strName) {
    const QvBstrHeld name(pChild->GetName());
    if (!name) return false;
    strName = name.Get();
    return true;
}

// Finds the first child of the element's name whose text can be read; none gives S_OK and an
// empty text.
long ReadChildText(IQvXmlNode* pRuleNode, CQvString& strValue, const ChildTexts& t) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(t.pszEntry);
    strValue.Empty();
    if (!pRuleNode) {
        log->AddError(t.pszNullNode);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    const int iCount = pRuleNode->GetChildCount();
    for (int i = 0; i < iCount; ++i) {
        QvXmlHeld<IQvXmlNode> child;
        if (pRuleNode->GetChildAt(i, child.Out()) < 0 || !child) {
            log->AddError(t.pszChildAt, i);
            return log->ExitFunction(static_cast<long>(E_FAIL));
        }
        CQvString strName;
        if (!ReadName(child.Get(), strName)) {
            log->AddError(t.pszNoName);
            return log->ExitFunction(static_cast<long>(E_FAIL));
        }
        if (strName.CompareNoCase(t.pszElement) == 0) {
            const QvBstrHeld text(child->GetText());
            if (text) {
                strValue = text.Get();
                return log->ExitFunction(static_cast<long>(S_OK));
            }
            log->AddError(t.pszNoText, strName);
        }
    }
    return log->ExitFunction(static_cast<long>(S_OK));
}

}  // namespace

long CQvRulesFactory::GetAction(IQvXmlNode* pRuleNode, CQvString& strAction) {
    static const AttributeTexts t = {
        L"CQvRulesFactory::GetAction(IQvXmlNode *pRuleNode,CQvString& strAction)", L"Action",
        L"CQvString CQvRulesFactory::GetAction(IQvXmlNode *pRuleNode,CQvString& strAction) "
        L"ERROR pRuleNode=NULL",
        L"CQvRulesFactory::GetAction(...) GetAttribute Action FAILED",
        L"CQvRulesFactory::GetAction(...) GetStringValue on Attribute Action FAILED"};
    return ReadAttribute(pRuleNode, strAction, t);
}

long CQvRulesFactory::GetLocation(IQvXmlNode* pRuleNode, CQvString& strLocation) {
    static const AttributeTexts t = {
        L"CQvRulesFactory::GetLocation(IQvXmlNode *pRuleNode,CQvString& strLocation)",
        L"Location", L"CQvString CQvRulesFactory::GetLocation(...) ERROR pRuleNode=NULL",
        L"CQvRulesFactory::GetLocation(...) GetAttribute Location FAILED",
        L"CQvRulesFactory::GetLocation(...) GetStringValue on Attribute Location FAILED"};
    return ReadAttribute(pRuleNode, strLocation, t);
}

long CQvRulesFactory::GetRuleID(IQvXmlNode* pRuleNode, CQvString& strRuleID) {
    static const AttributeTexts t = {
        L"CQvRulesFactory::GetRuleID(IQvXmlNode *pRuleNode,CQvString& strRuleID)", L"RuleID",
        L"CQvString CQvRulesFactory::GetRuleID(...) ERROR pRuleNode=NULL",
        L"CQvRulesFactory::GetRuleID(...) GetAttribute RuleID FAILED",
        L"CQvRulesFactory::GetRuleID(...) GetStringValue on Attribute RuleID FAILED"};
    return ReadAttribute(pRuleNode, strRuleID, t);
}

long CQvRulesFactory::GetAllTogether(IQvXmlNode* pRuleNode, CQvString& strAllTogether) {
    static const AttributeTexts t = {
        L"CQvRulesFactory::GetAllTogether(IQvXmlNode *pRuleNode,CQvString& strAllTogether)",
        L"AllTogether", L"CQvString CQvRulesFactory::GetAllTogether(...) ERROR pRuleNode=NULL",
        L"CQvRulesFactory::GetAllTogether(...) GetAttribute AllTogether FAILED",
        L"CQvRulesFactory::GetAllTogether(...) GetStringValue on Attribute AllTogether FAILED"};
    return ReadAttribute(pRuleNode, strAllTogether, t);
}

long CQvRulesFactory::GetSourcePath(IQvXmlNode* pRuleNode, CQvString& strPathSource) {
    static const ChildTexts t = {
        L"CQvRulesFactory::GetSourcePath(IQvXmlNode *pRuleNode,CQvString& strPathSource)",
        L"SourcePath", L"CQvString CQvRulesFactory::GetSourcePath(...) ERROR pRuleNode=NULL",
        L"CQvRulesFactory::GetSourcePath(...) GetChildAt %d FAILED",
        L"CQvRulesFactory::GetSourcePath(...) GetName FAILED",
        L"CQvRulesFactory::GetSourcePath(...) GetText on node %s FAILED"};
    return ReadChildText(pRuleNode, strPathSource, t);
}

long CQvRulesFactory::GetTargetPath(IQvXmlNode* pRuleNode, CQvString& strTargetPath) {
    static const ChildTexts t = {
        L"CQvRulesFactory::GetTargetPath(IQvXmlNode *pRuleNode,CQvString& strTargetPath)",
        L"TargetPath", L"CQvString CQvRulesFactory::GetTargetPath(...) ERROR pRuleNode=NULL",
        L"CQvRulesFactory::GetTargetPath(...) GetChildAt %d FAILED",
        L"CQvRulesFactory::GetTargetPath(...) GetName FAILED",
        L"CQvRulesFactory::GetTargetPath(...) GetText on node %s FAILED"};
    return ReadChildText(pRuleNode, strTargetPath, t);
}
