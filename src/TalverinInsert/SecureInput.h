#pragma once

namespace talverin {

// Whether the desktop is in secure event input (a password prompt grabbed the keyboard), in
// which case nothing may be read from or typed into other applications.
class SecureInput {
public:
    virtual ~SecureInput() = default;
    // Any thread; false when the desktop cannot tell.
    virtual bool isSecureEventInputEnabled() = 0;
};

// X11 has no secure event input: a password field is known by its accessibility role alone.
class SecureInputNone final : public SecureInput {
public:
    bool isSecureEventInputEnabled() override { return false; }
};

} // namespace talverin
