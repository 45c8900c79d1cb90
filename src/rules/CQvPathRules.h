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
    // Whether the rule puts its files on every medium: an include there that no exclusion
    // there takes back.
    bool IncludedEverywhere() const;
    // Puts back the includes merged while the rule was on every medium (see MergeRule): an
    // exclusion from every medium of a path below lets them place that path's files.
    void RestoreHeldIncludes();
    bool HoldsIncludes() const { return !m_vtHeldInclude.empty(); }
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
    // Includes merged while the rule was on every medium, with their target paths.
    MediaDescriptEnumVector m_vtHeldInclude;
    std::vector<CQvString> m_vtHeldTarget;

    friend class QvPathRulesTestAccess;
};

#endif
