// A text written on the worker thread and copied by the dialog's thread: every
// write and every copy is one step under the text's own lock, so a reader
// never sees a half-written text.
#pragma once

#include <mutex>
#include <string>
#include <utility>

class SharedText {
public:
    SharedText() = default;
    SharedText(const SharedText&) = delete;
    SharedText& operator=(const SharedText&) = delete;

    void set(std::string value)
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mText.swap(value);
    }

    std::string get() const
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mText;
    }

    bool empty() const
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mText.empty();
    }

private:
    mutable std::mutex mMutex;
    std::string mText;
};
