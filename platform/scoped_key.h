// Closes a registry key when it leaves scope or is replaced.
#pragma once
#include <windows.h>

class ScopedKey {
  public:
    ScopedKey() = default;
    ~ScopedKey() {
        if (key_) RegCloseKey(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    HKEY* out() { return &key_; }
    void reset(HKEY key = 0) {
        if (key_) RegCloseKey(key_);
        key_ = key;
    }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = 0;
};
