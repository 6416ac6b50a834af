#pragma once
// The one way a function reports an outcome that can fail: it returns a TResult<T>, which holds
// either the value or a TError. Nothing is thrown across a function that returns one, and no
// error travels in an out-parameter or a bool beside the value. TResult<void> (TStatus) is an
// outcome without a value.
//
//   TResult<TBaseParam> r = ReadBase(form);
//   if (!r) return r.Error();   // TError converts into any TResult
//   Use(*r);

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace varnix {

// What went wrong. Message is one line of English (UTF-8) that a command-line user can read as it
// stands; Field and Text let a window say the same in its own language and point at the control.
struct TError {
    std::string Field;   // the field at fault (a catalogue name such as "StaticIP"), or empty
    std::string Text;    // the value that was refused, as given, or empty
    std::string Message; // "StaticIP: '10.1.x.2' is not a valid value"
    bool operator==(const TError&) const = default;
};

template <class T> class [[nodiscard]] TResult {
public:
    TResult(T value) : v_(std::move(value)) {}
    TResult(TError error) : v_(std::move(error)) {}

    bool Ok() const { return v_.index() == 0; }
    explicit operator bool() const { return Ok(); }
    T& operator*() { return std::get<0>(v_); }
    const T& operator*() const { return std::get<0>(v_); }
    T* operator->() { return &std::get<0>(v_); }
    const T* operator->() const { return &std::get<0>(v_); }
    const TError& Error() const { return std::get<1>(v_); }

private:
    std::variant<T, TError> v_;
};

template <> class [[nodiscard]] TResult<void> {
public:
    TResult() = default;
    TResult(TError error) : error_(std::move(error)) {}

    bool Ok() const { return !error_.has_value(); }
    explicit operator bool() const { return Ok(); }
    const TError& Error() const { return *error_; }

private:
    std::optional<TError> error_;
};

using TStatus = TResult<void>;

// A failure whose message names the field: "Field: message".
inline TError FieldError(std::string field, std::string text, const std::string& message) {
    std::string full = field.empty() ? message : field + ": " + message;
    return TError{std::move(field), std::move(text), std::move(full)};
}

// The message without the "Field: " FieldError put in front ("'x' is not a whole number"), for a
// caller that names the field its own way ("bad MAC: ...").
inline std::string ErrorReason(const TError& error) {
    const std::string prefix = error.Field + ": ";
    if (!error.Field.empty() && error.Message.starts_with(prefix))
        return error.Message.substr(prefix.size());
    return error.Message;
}

} // namespace varnix
