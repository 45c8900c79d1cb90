// The rules reader: opens a rules file and hands each rule element to the rules catalogue.
#include "rules/CQvRulesReader.h"

#include "facilities/CQvLog.h"

CQvRulesReader* CQvRulesReader::pInstance = nullptr;

CQvRulesReader* CQvRulesReader::GetInstance() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesReader::GetInstance()");
    if (!pInstance) {
        try {
            pInstance = new CQvRulesReader();
        } catch (...) {
            log->AddError(L"CQvRulesReader::GetInstance() Error create new object "
                          L"CQvRulesReader Catch Exception");
            pInstance = nullptr;
        }
    }
    log->ExitFunction();
    return pInstance;
}

CQvRulesReader::CQvRulesReader() : pXml(nullptr), pRulesFactory(nullptr) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesReader::CQvRulesReader()");
    pRulesFactory = CQvRulesFactory::GetInstance();
    log->ExitFunction();
}

CQvRulesReader::~CQvRulesReader() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesReader::~CQvRulesReader()");
    log->ExitFunction();
}

long CQvRulesReader::ReadRules(LPCTSTR strRulesFilePath) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvRulesReader::ReadRules(LPCTSTR strRulesFilePath=%s)",
                       strRulesFilePath);
    pXml = GetQvXmlInterface(XML_TYPE_LIBRARY);
    if (!pXml) {
        log->AddError(L"CQvRulesReader::ReadRules(...) FAILED to get XML Interface");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    // The document is closed on every path, an exception passing through included, so a failed
    // read leaves nothing open behind it.
    QvXmlHeld<IQvXml> doc(pXml);
    pXml = nullptr;
    if (doc->Open(strRulesFilePath) < 0) {
        log->AddError(L"CQvRulesReader::ReadRules(...) Open XML rules file %s FAILED",
                      strRulesFilePath);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    QvXmlHeld<IQvXmlNode> root;
    if (doc->GetRoot(root.Out()) < 0 || !root) {
        log->AddError(L"CQvRulesReader::ReadRules(...) Get Root on XML rules file %s FAILED",
                      strRulesFilePath);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    return log->ExitFunction(ReadRuleNodes(root.Get()));
}

long CQvRulesReader::ReadRuleNodes(IQvXmlNode* pRoot) {
    CQvLog* log = CQvLog::GetInstance();
    QvXmlHeld<IQvXmlNode> ruleNode;
    if (pRoot->GetFirstChild(ruleNode.Out()) < 0 || !ruleNode) {
        log->AddError(L"CQvRulesReader::ReadRules(...) Get first rule node FAILED");
        return E_FAIL;
    }
    while (ruleNode) {
        const long lAdded = pRulesFactory ? pRulesFactory->AddToCatalog(ruleNode.Get())
                                          : static_cast<long>(E_FAIL);
        if (lAdded < 0) {
            log->AddError(L"CQvRulesReader::ReadRules(...) Add rule node to catalog FAILED");
            return E_FAIL;
        }
        if (pRoot->GetNextChild(ruleNode.Out()) < 0) ruleNode.Reset();
    }
    return S_OK;
}
