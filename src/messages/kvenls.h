// kvenls: the message layer's entry points, what the rest of the system
// calls to get or show a numbered message: finished texts, their severity
// and their display.  All entry points take the NLS lock and return at once
// (no text; severity 6) while the message state or its lock is absent, as
// in the utility, which never opens a repository.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <type_traits>

constexpr int kSeverityUnknown = 255;
constexpr int kSeverityNoLock = 6;

// The kind of one insert value as it travels through "...": 'p' a pointer,
// 'i' an integer of at most 32 bits, 'd' a floating value.  The texts come
// from the repository file, so their conversions are checked against these
// kinds before any value is read (nlorder.h).
template <typename T>
constexpr char nlsInsertKind() {
  if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
    return 'p';
  } else if constexpr (std::is_integral_v<T> && sizeof(T) <= 4) {
    return 'i';
  } else {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>,
                  "an insert value is a pointer, an integer of at most 32 bits or a double");
    return 'd';
  }
}

// The finished text of message msgNum with its inserts filled from the
// arguments, whose kinds are one letter each in `kinds`: a new block from
// the debug allocator (with room for 10 more bytes) that the caller releases
// with KX_FREE, or null.  A text whose conversions do not fit the arguments
// is a damaged record: reported as one, and no text.
char* nlsMessageTextKinds(uint16_t msgNum, int* severity, const char* kinds, ...);
// args null: no insert values (inserts stay empty); kinds then unused.
char* nlsMessageTextV(uint16_t msgNum, int* severity, const char* kinds, va_list* args);

template <typename... Args>
char* nlsMessageText(uint16_t msgNum, Args... args) {
  static constexpr char kinds[] = {nlsInsertKind<Args>()..., '\0'};
  return nlsMessageTextKinds(msgNum, nullptr, kinds, args...);
}
// The same, also giving the message's severity code.
template <typename... Args>
char* nlsMessageTextSev(uint16_t msgNum, int* severity, Args... args) {
  static constexpr char kinds[] = {nlsInsertKind<Args>()..., '\0'};
  return nlsMessageTextKinds(msgNum, severity, kinds, args...);
}

// The severity code of message msgNum: 255 when it cannot be found, 6 when
// the NLS lock cannot be taken.
int nlsMessageSeverity(uint16_t msgNum);

// Displays message msgNum: raises the return code, copies the text to the
// second log and (severity above 4) to the error log, and hands it to the
// display function of its severity unless the output mode is "no display".
void nlsDisplayMessageKinds(uint16_t msgNum, const char* kinds, ...);
template <typename... Args>
void nlsDisplayMessage(uint16_t msgNum, Args... args) {
  static constexpr char kinds[] = {nlsInsertKind<Args>()..., '\0'};
  nlsDisplayMessageKinds(msgNum, kinds, args...);
}
