// The process-wide rules reader: loads a rules file into the rules catalogue.
#ifndef CQVRULESREADER_H
#define CQVRULESREADER_H

#include "facilities/QvXml.h"
#include "rules/CQvRulesFactory.h"

class QVSPLIT_API CQvRulesReader {
public:
    static CQvRulesReader* GetInstance();
    virtual ~CQvRulesReader();

    // Reads every rule element of the file; S_OK or E_FAIL.
    long ReadRules(LPCTSTR strRulesFilePath);

protected:
    CQvRulesReader();
    // Hands every child element of the root to the rules catalogue; S_OK or E_FAIL.
    long ReadRuleNodes(IQvXmlNode* pRoot);

    IQvXml* pXml;
    CQvRulesFactory* pRulesFactory;

private:
    static CQvRulesReader* pInstance;
    friend class QvRulesReaderTestAccess;
};

#endif
