// One parsed rule: where a source path is included or excluded, restored and grouped.
#ifndef CQVPATHRULES_H
#define CQVPATHRULES_H

#include "common/QvRecords.h"
#include "facilities/CQvString.h"

#include <vector>

class QVSPLIT_API CQvPathRules {
public:
    // A rule from one rule element: its action, location keyword, paths, number, group and the
    // element's XPath (used only in the log).
    CQvPathRules(LPCTSTR strAction, LPCTSTR strLocation, LPCTSTR strSourcePath,
                 LPCTSTR strTargetPath, LPCTSTR strRuleID, int iAllTogetherGroup,
                 LPCTSTR strXPath);
    CQvPathRules(const CQvPathRules& other);
    CQvPathRules& operator=(const CQvPathRules& other);
    virtual ~CQvPathRules();

    // Adds the location of a further element for the same source path; always S_OK.
    long MergeRule(LPCTSTR strAction, LPCTSTR strLocation, LPCTSTR strSourcePath,
                   LPCTSTR strTargetPath, LPCTSTR strRuleID, LPCTSTR strXPath);
    // E_FAIL when the rule has no location, or includes and excludes the same one.
    long CheckConstensy();
    // Whether an element already includes the rule's files on every medium: a further include
    // of the same path is then not merged.
    bool IncludesEveryMedium() const;
    // Writes the invalid-rule banner with the element's texts.
    void LogInvalidRule(LPCTSTR strMessage, LPCTSTR strAction, LPCTSTR strLocation,
                        LPCTSTR strSourcePath, LPCTSTR strTargetPath, LPCTSTR strRuleID,
                        LPCTSTR strXPath);
    // AllTogether group number, -1 for none.
    int GetAllTogetherGroup();
    // The rule number.
    DWORD GetID();
    // The source path, valid while the rule lives.
    LPCTSTR GetPath();

    // Location code of a Location keyword (ignoring case); 0 for anything else.
    static MediaDescriptEnum LocationCode(LPCTSTR strLocation);

    MediaDescriptEnumVector vtExclude;   // locations the rule's files are removed from
    MediaDescriptEnumVector vtInclude;   // locations the rule's files are put into
    std::vector<CQvString> vtTargetPath; // target path of each include location

protected:
    int iAllTogetherGroup;
    CQvString strPath;
    DWORD dwID;

    friend class QvPathRulesTestAccess;
};

#endif
