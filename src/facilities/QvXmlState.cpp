// Shared document state: the pugixml document, its bound path and a cache of sibling positions.
#include "facilities/QvXmlState.h"

#include <cstring>

CQvXmlState::CQvXmlState(const std::wstring& path) : m_strPath(path) {}

size_t CQvXmlState::SiblingPosition(pugi::xml_node element) {
    pugi::xml_node parent = element.parent();
    auto cached = m_positionCache.find(parent.internal_object());
    if (cached != m_positionCache.end() && cached->second.first == element.internal_object())
        return cached->second.second;
    const char* name = element.name();
    size_t steps = 0;
    // Elements are only ever appended, never removed or moved, so a remembered position
    // stays right and the count can stop as soon as it meets the remembered element.
    for (pugi::xml_node n = element; n; n = n.previous_sibling()) {
        if (n.type() != pugi::node_element || std::strcmp(n.name(), name) != 0) continue;
        if (cached != m_positionCache.end() && n.internal_object() == cached->second.first) {
            steps += cached->second.second;
            break;
        }
        ++steps;
    }
    m_positionCache[parent.internal_object()] = std::make_pair(element.internal_object(), steps);
    return steps;
}
