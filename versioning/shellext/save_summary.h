// The outcome of a save of several files, told once at the end: how many
// were saved, unchanged, empty, excluded, failed or not reached after a
// Cancel, with the name and reason of each failure.
#ifndef KEEPSHEL_SAVE_SUMMARY_H
#define KEEPSHEL_SAVE_SUMMARY_H

#include <windows.h>

#include <string>
#include <vector>

class SaveSummary {
public:
    void Saved() { ++saved_; }
    void Unchanged() { ++unchanged_; }
    void Empty() { ++empty_; }
    void Excluded() { ++excluded_; }
    void NotReached(int count) { notReached_ += count; }
    void Failed(const char* name, const char* reason);

    // Anything but saves: a save of several files that all went through
    // needs no word.
    bool HasNews() const { return unchanged_ || empty_ || excluded_ || notReached_ || !failures_.empty(); }
    // The whole text, e.g. "10 saved, 190 unchanged, 1 failed:\nb.doc: ...".
    std::string Text() const;
    void Show(HWND owner) const;

private:
    struct Failure {
        std::string name;
        std::string reason;
    };
    int saved_ = 0;
    int unchanged_ = 0;
    int empty_ = 0;
    int excluded_ = 0;
    int notReached_ = 0;
    std::vector<Failure> failures_;
};

#endif
