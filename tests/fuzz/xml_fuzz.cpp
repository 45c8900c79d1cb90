// Fuzz target for the XML document facility: any bytes as a file, opened, walked and saved.
//
// Oracle beyond the sanitizers: a document that opens must save, and what it saved must open
// again with the same root element.
#include "facilities/QvXml.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::filesystem::path g_dir;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::wstring Take(BSTR text) {
    Check(text != nullptr);
    std::wstring s(text);
    qvp::SysFreeString(text);
    return s;
}

// Reads everything a caller can read from one element.
void Visit(IQvXmlNode* node) {
    Take(node->GetName());
    Take(node->GetText());
    Take(node->GetXPath());
    for (const wchar_t* name : {L"Action", L"RuleID", L"Location", L"a", L"x"}) {
        IQvXmlAttribute* attr = nullptr;
        if (node->GetAttribute(name, &attr) >= 0) {
            Take(attr->GetStringValue());
            attr->Release();
        }
    }
    const int count = node->GetChildCount();
    IQvXmlNode* child = nullptr;
    if (count > 0 && node->GetChildAt(count - 1, &child) >= 0) child->Release();
    Check(node->GetChildAt(count, &child) < 0 && child == nullptr);
}

// Depth-first walk with GetFirstChild/GetNextChild and an explicit stack, so deep nesting
// cannot exhaust the call stack of the harness itself.
void Walk(IQvXmlNode* root) {
    std::vector<std::pair<IQvXmlNode*, bool>> stack{{root, false}};
    Visit(root);
    while (!stack.empty()) {
        auto& top = stack.back();
        IQvXmlNode* child = nullptr;
        const long hr = top.second ? top.first->GetNextChild(&child)
                                   : top.first->GetFirstChild(&child);
        top.second = true;
        if (hr < 0) {
            Check(child == nullptr);
            if (top.first != root) top.first->Release();
            stack.pop_back();
            continue;
        }
        Visit(child);
        stack.emplace_back(child, false);
    }
}

std::wstring RootName(IQvXml* doc) {
    IQvXmlNode* root = nullptr;
    Check(doc->GetRoot(&root) >= 0);
    std::wstring name = Take(root->GetName());
    root->Release();
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A memory file system where there is one: every save flushes to the disk, which would
    // otherwise cost most of the time of a run.
    std::error_code ec;
    const std::filesystem::path shm = "/dev/shm";
    const std::filesystem::path base =
        std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
    g_dir = base / ("qvsplit-fuzz-" + std::to_string(qvp::GetCurrentProcessId()));
    std::filesystem::create_directories(g_dir);
    setenv("QVSPLIT_DRIVE_F", g_dir.c_str(), 1);
    std::atexit([] {
        std::error_code error;
        std::filesystem::remove_all(g_dir, error);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(g_dir / "input.xml", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    IQvXml* doc = GetQvXmlInterface(XML_TYPE_LIBRARY);
    Check(doc != nullptr);
    if (doc->Open(L"F:\\input.xml") >= 0) {
        IQvXmlNode* root = nullptr;
        Check(doc->GetRoot(&root) >= 0);
        Walk(root);
        root->Release();
        const std::wstring name = RootName(doc);
        Check(doc->Save(0) >= 0);
        Check(doc->Open(L"F:\\input.xml") >= 0);
        Check(RootName(doc) == name);
    }
    doc->Close();
    return 0;
}
