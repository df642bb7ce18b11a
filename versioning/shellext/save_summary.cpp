#include "save_summary.h"

#include "../archive/messages.h"
#include "../archive/module.h"
#include "../resources/resource.h"

namespace {

// Failures named one by one; the rest are counted.
constexpr size_t kListedFailures = 10;

std::string Load(UINT id) {
    char text[300];
    LoadText(id, text, sizeof text);
    return text;
}

std::string Count(UINT formatId, int count) {
    char format[100], text[120];
    LoadText(formatId, format, sizeof format);
    FormatText(text, sizeof text, format, count);
    return text;
}

}  // namespace

void SaveSummary::Failed(const char* name, const char* reason) { failures_.push_back({name, reason}); }

std::string SaveSummary::Text() const {
    std::string text = Count(IDS_SAVE_SUMMARY_SAVED, saved_);
    const std::string join = Load(IDS_SAVE_SUMMARY_JOIN);
    const struct {
        int count;
        UINT id;
    } parts[] = {{unchanged_, IDS_SAVE_SUMMARY_UNCHANGED},
                 {empty_, IDS_SAVE_SUMMARY_EMPTY},
                 {excluded_, IDS_SAVE_SUMMARY_EXCLUDED},
                 {static_cast<int>(failures_.size()), IDS_SAVE_SUMMARY_FAILED},
                 {notReached_, IDS_SAVE_SUMMARY_CANCELLED}};
    for (const auto& part : parts) {
        if (part.count > 0) text += join + Count(part.id, part.count);
    }
    if (failures_.empty()) return text + Load(IDS_SAVE_SUMMARY_END);

    text += Load(IDS_SAVE_SUMMARY_LIST);
    char format[100];
    LoadText(IDS_SAVE_SUMMARY_FAILURE, format, sizeof format);
    for (size_t i = 0; i < failures_.size() && i < kListedFailures; ++i) {
        char line[2 * MAX_PATH + 300];
        FormatText(line, sizeof line, format, failures_[i].name.c_str(), failures_[i].reason.c_str());
        text += line;
    }
    if (failures_.size() > kListedFailures)
        text += Count(IDS_SAVE_SUMMARY_MORE, static_cast<int>(failures_.size() - kListedFailures));
    return text;
}

void SaveSummary::Show(HWND owner) const {
    UINT icon = failures_.empty() && !notReached_ ? MB_ICONINFORMATION : MB_ICONWARNING;
    ShowMessageText(owner, Text().c_str(), MB_OK | icon);
}
