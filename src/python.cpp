// korvel._native: the Python face of the checker.
//
// In Python terms this module is
//
//     class Registry:                      # Registry() takes no arguments
//         def check(self, domain: str) -> CheckResult
//         def tld_info(self, tld: str) -> TldInfo | None
//         def rule_count(self) -> int
//         def stats(self) -> dict
//     class CheckResult:                   # read-only: status, reasons
//     class TldInfo:                       # read-only: the twelve fields of a rule
//     __all__ = ["Registry", "CheckResult", "TldInfo"]
//
// written directly on the CPython C API for the free-threaded interpreter. The
// module declares that it does not need the GIL: all shared data is immutable,
// and each instance carries an atomic shared-borrow counter. It refuses to load
// in a subinterpreter, as its type objects belong to the whole process.
//
// The first half of the file is the boundary that every method, attribute read
// and text form goes through (argument matching, text arguments, the receiver
// test, the borrow, object creation, fault conversion); the second half is the
// three classes and the module definition.
//
// Built twice: as the shipped `_native`, and, with KORVEL_PROBE defined, as the
// test-only `_native_probe`, which adds module functions that can make a chosen
// step fail. The shipped build compiles every hook away.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <source_location>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "generated.hpp"
#include "registry.hpp"
#include "types.hpp"

#ifdef KORVEL_PROBE
#define KORVEL_MODULE_NAME "_native_probe"
#define KORVEL_MODULE_INIT PyInit__native_probe
#else
#define KORVEL_MODULE_NAME "_native"
#define KORVEL_MODULE_INIT PyInit__native
#endif

namespace korvel::python {
namespace {

// ===========================================================================
// Boundary
// ===========================================================================

// A Python exception is set; unwind to the boundary and return failure.
struct PythonError {};

// A broken invariant. Its report is already on stderr; the boundary raises it
// as PanicException.
struct InternalFault {
    std::string message;
};

[[noreturn]] void die(const char* report) noexcept {
    std::fprintf(stderr, "korvel: %s\n", report);
    std::fflush(stderr);
    std::abort();
}

// Writes the fault report in one call, so that reports from several threads
// do not interleave, then unwinds to the boundary.
[[noreturn]] void fault(std::string message, std::source_location where = std::source_location::current()) {
    std::string report = "korvel: internal fault on thread " + std::to_string(PyThread_get_thread_native_id()) +
                         " at " + where.file_name() + ":" + std::to_string(where.line()) + " in " +
                         where.function_name() + ": " + message + "\n";
    std::fwrite(report.data(), 1, report.size(), stderr);
    std::fflush(stderr);
    throw InternalFault{std::move(message)};
}

// --- test hooks (probe build only) -------------------------------------------

#ifdef KORVEL_PROBE
// The step armed by _native_probe.fail_next(); per thread, so tests on other
// threads are never disturbed.
thread_local char armed_step[96];

void arm(const char* step) noexcept {
    std::snprintf(armed_step, sizeof armed_step, "%s", step);
}

// True once for the armed step, with a RuntimeError set as the step's error.
bool injected_failure(std::string_view step) noexcept {
    if (armed_step[0] == '\0' || step != armed_step) return false;
    armed_step[0] = '\0';
    PyErr_SetString(PyExc_RuntimeError, "injected failure");
    return true;
}
#else
constexpr bool injected_failure(std::string_view) noexcept { return false; }
#endif

// --- owned references --------------------------------------------------------

class Ref {
public:
    Ref() noexcept = default;
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref& operator=(Ref&& other) noexcept {
        Ref old(std::exchange(object_, std::exchange(other.object_, nullptr)));
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    void reset() noexcept { Ref old(std::exchange(object_, nullptr)); }

    PyObject* get() const noexcept { return object_; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

// Every object the module makes passes through here: the interpreter could not
// make it, which no caller can act on, so it ends the call as a fault.
Ref checked(PyObject* object, std::source_location where = std::source_location::current()) {
    if (object != nullptr && injected_failure("new object")) {
        Py_DECREF(object);
        object = nullptr;
    }
    if (object == nullptr) {
        if (PyErr_Occurred()) PyErr_WriteUnraisable(nullptr);
        fault("PyObject pointer is null", where);
    }
    return Ref(object);
}

Ref new_str(std::string_view text) {
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref new_int(unsigned long long value) { return checked(PyLong_FromUnsignedLongLong(value)); }

Ref new_str_list(const std::vector<std::string>& texts) {
    Ref list = checked(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_str(texts[i]).release());
    }
    return list;
}

// --- once-only cells -----------------------------------------------------------

// A process-wide object made once. A thread that finds another thread making it
// waits detached, so that it holds up nothing else (the GC's stop-the-world
// included), and the maker runs attached.
struct OnceCell {
    std::atomic<PyObject*> value{nullptr};
    std::atomic<std::uint32_t> state{0};  // 0 empty, 1 being made, 2 filled
};

template <class Make>
PyObject* get_or_make(OnceCell& cell, Make make) noexcept {
    if (PyObject* value = cell.value.load(std::memory_order_acquire)) return value;
    for (;;) {
        std::uint32_t expected = 0;
        if (cell.state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
            PyObject* value = make();
            if (value != nullptr) cell.value.store(value, std::memory_order_release);
            cell.state.store(value != nullptr ? 2 : 0, std::memory_order_release);
            cell.state.notify_all();
            return value;  // nullptr with the maker's error set
        }
        if (expected == 2) return cell.value.load(std::memory_order_acquire);
        Py_BEGIN_ALLOW_THREADS
        cell.state.wait(1, std::memory_order_acquire);
        Py_END_ALLOW_THREADS
    }
}

constinit OnceCell panic_type_cell;
constinit OnceCell all_name_cell;

constexpr const char PANIC_DOC[] =
    "The exception raised when the native code of this module meets an internal fault.\n\n"
    "Like SystemExit, it derives from BaseException and not from Exception, so that it\n"
    "normally travels all the way up the stack and ends the interpreter.";

PyObject* panic_type() noexcept {
    return get_or_make(panic_type_cell, [] {
        return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", PANIC_DOC, PyExc_BaseException, nullptr);
    });
}

// Raises PanicException(message). A failure here has no way left to reach the
// caller, so it ends the process.
void raise_panic(const std::string& message) noexcept {
    PyErr_Clear();
    PyObject* type = panic_type();
    if (type == nullptr) die("uncaught panic at ffi boundary");
    PyObject* text = PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()));
    if (text == nullptr) die("uncaught panic at ffi boundary");
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

// Runs one operation for the interpreter: nothing thrown inside gets out.
template <class R, class Body>
R boundary(R failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const PythonError&) {
        return failure;
    } catch (const InternalFault& f) {
        raise_panic(f.message);
        return failure;
    } catch (const std::bad_alloc&) {
        die("memory exhausted");
    } catch (const std::exception& e) {
        try {
            fault(e.what());
        } catch (const InternalFault& f) {
            raise_panic(f.message);
        } catch (...) {
            die("uncaught panic at ffi boundary");
        }
        return failure;
    } catch (...) {
        die("uncaught panic at ffi boundary");
    }
}

// --- error texts -----------------------------------------------------------------

// A copy of a str's text, or nullopt (the error cleared) when `text` is null
// or has no UTF-8 form. For messages only.
std::optional<std::string> message_text(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = text != nullptr && PyUnicode_Check(text) ? PyUnicode_AsUTF8AndSize(text, &size) : nullptr;
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

std::string qualified_name(PyTypeObject* type) {
    Ref name(PyType_GetQualName(type));
    return message_text(name.get()).value_or("<failed to extract type name>");
}

void set_type_error(const std::string& message) {
    Ref text = new_str(message);
    PyErr_SetObject(PyExc_TypeError, text.get());
}

// "'{type}' object is not an instance of '{expected}'". Built by appending:
// g++ 12 at -O3 misreads `"'" + std::string` as an overlapping copy.
std::string not_instance_message(PyObject* object, std::string_view expected) {
    std::string message(1, '\'');
    message += qualified_name(Py_TYPE(object));
    message += "' object is not an instance of '";
    message += expected;
    message += '\'';
    return message;
}

[[noreturn]] void raise_not_instance(PyObject* object, std::string_view expected) {
    set_type_error(not_instance_message(object, expected));
    throw PythonError{};
}

std::string repr_text(PyObject* object) {
    Ref repr(PyObject_Repr(object));
    return message_text(repr.get()).value_or("<unprintable object>");
}

// "PyErr { type: <class 'X'>, value: X('...'), traceback: None }"
std::string render_error(PyObject* raised) {
    if (raised == nullptr) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        raised = PyErr_GetRaisedException();
    }
    Ref error(raised);
    Ref traceback(PyException_GetTraceback(error.get()));
    return "PyErr { type: " + repr_text(reinterpret_cast<PyObject*>(Py_TYPE(error.get()))) +
           ", value: " + repr_text(error.get()) +
           ", traceback: " + (traceback ? repr_text(traceback.get()) : std::string("None")) + " }";
}

// A step that expected success met the pending error.
[[noreturn]] void fault_with_pending_error(std::string_view step,
                                           std::source_location where = std::source_location::current()) {
    std::string message(step);
    message += ": ";
    message += render_error(PyErr_GetRaisedException());
    fault(std::move(message), where);
}

// --- instances -------------------------------------------------------------------

// The largest value would mark an exclusive borrow, which nothing here takes.
using BorrowFlag = std::atomic<std::uintptr_t>;
constexpr std::uintptr_t EXCLUSIVE = ~std::uintptr_t{0};

constexpr std::size_t align_up(std::size_t n, std::size_t alignment) {
    return (n + alignment - 1) / alignment * alignment;
}

// Object header, then the class value, then the borrow counter.
template <class T>
struct Layout {
    static constexpr std::size_t value_offset = align_up(sizeof(PyObject), alignof(T));
    static constexpr std::size_t flag_offset = align_up(value_offset + sizeof(T), alignof(BorrowFlag));
    static constexpr std::size_t size = flag_offset + sizeof(BorrowFlag);

    static T* value(PyObject* object) noexcept {
        return std::launder(reinterpret_cast<T*>(reinterpret_cast<char*>(object) + value_offset));
    }
    static BorrowFlag* flag(PyObject* object) noexcept {
        return std::launder(reinterpret_cast<BorrowFlag*>(reinterpret_cast<char*>(object) + flag_offset));
    }
};

template <class T>
bool is_instance(PyObject* object) noexcept {
    PyTypeObject* type = T::cell.load(std::memory_order_acquire);
    return type != nullptr && (Py_TYPE(object) == type || PyType_IsSubtype(Py_TYPE(object), type));
}

// The receiver of one operation, tested and borrowed shared until the end of
// the operation, whichever way it ends.
template <class T>
class Receiver {
public:
    explicit Receiver(PyObject* self) : self_(self) {
        if (!is_instance<T>(self)) raise_not_instance(self, T::class_name);
        BorrowFlag& flag = *Layout<T>::flag(self);
        std::uintptr_t current = flag.load(std::memory_order_relaxed);
        do {
            if (current == EXCLUSIVE) fault("already mutably borrowed");
        } while (!flag.compare_exchange_weak(current, current + 1, std::memory_order_acq_rel,
                                             std::memory_order_relaxed));
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { Layout<T>::flag(self_)->fetch_sub(1, std::memory_order_release); }

    const T& value() const noexcept { return *Layout<T>::value(self_); }

private:
    PyObject* self_;
};

// The class's type object, built on first need. Threads racing here may each
// build one; the first stored stays and the others are dropped.
template <class T>
PyTypeObject* type_object() noexcept {
    if (PyTypeObject* type = T::cell.load(std::memory_order_acquire)) return type;
    if (injected_failure(std::string("build ") + T::class_name)) return nullptr;
    PyObject* built = PyType_FromSpec(&T::spec);
    if (built == nullptr) return nullptr;
    PyTypeObject* expected = nullptr;
    if (!T::cell.compare_exchange_strong(expected, reinterpret_cast<PyTypeObject*>(built),
                                         std::memory_order_acq_rel, std::memory_order_acquire)) {
        Py_DECREF(built);
        return expected;
    }
    return reinterpret_cast<PyTypeObject*>(built);
}

// A new instance of `type` that takes over `value`. On failure `value` stays
// with the caller, whose unwinding releases it.
template <class T>
PyObject* allocate(PyTypeObject* type, T&& value) {
    Ref no_args = checked(PyTuple_New(0));
    PyObject* object = PyBaseObject_Type.tp_new(type, no_args.get(), nullptr);
    if (object == nullptr) throw PythonError{};
    ::new (Layout<T>::value(object)) T(std::move(value));
    ::new (Layout<T>::flag(object)) BorrowFlag(0);
    return object;
}

template <class T>
PyObject* create_instance(T&& value) {
    PyTypeObject* type = type_object<T>();
    if (type == nullptr) {
        PyErr_WriteUnraisable(nullptr);
        fault(std::string("failed to create type object for `") + T::class_name + "`");
    }
    return allocate(type, std::move(value));
}

// Destroying the values cannot fail: they hold only strings and containers.
template <class T>
void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    std::destroy_at(Layout<T>::value(self));
    std::destroy_at(Layout<T>::flag(self));
    type->tp_free(self);
    Py_DECREF(type);
}

// --- arguments -------------------------------------------------------------------

// One method's parameters, all positional-or-keyword.
struct ArgSpec {
    const char* class_name;
    const char* function_name;
    std::span<const char* const> params;
    std::size_t required;

    std::string full_name() const { return std::string(class_name) + "." + function_name + "()"; }
};

constexpr std::size_t MAX_PARAMS = 1;

// Places the arguments into one slot per parameter; nothing is allocated unless
// the call is refused.
class ArgMatcher {
public:
    explicit ArgMatcher(const ArgSpec& spec) noexcept : spec_(spec) {}

    void positional(PyObject* const* args, std::size_t count) {
        if (count > spec_.params.size()) {
            set_type_error(spec_.full_name() + " takes " + std::to_string(spec_.params.size()) +
                           " positional arguments but " + std::to_string(count) + " " +
                           (count == 1 ? "was" : "were") + " given");
            throw PythonError{};
        }
        for (std::size_t i = 0; i < count; ++i) slots_[i] = args[i];
    }

    void keyword(PyObject* name, PyObject* value) {
        for (std::size_t i = 0; i < spec_.params.size(); ++i) {
            const char* param = spec_.params[i];
            if (PyUnicode_Check(name) &&
                PyUnicode_EqualToUTF8AndSize(name, param, static_cast<Py_ssize_t>(std::strlen(param)))) {
                if (slots_[i] != nullptr) {
                    set_type_error(spec_.full_name() + " got multiple values for argument '" + param + "'");
                    throw PythonError{};
                }
                slots_[i] = value;
                return;
            }
        }
        std::string full = spec_.full_name();
        if (PyUnicode_Check(name)) {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", full.c_str(), name);
        } else {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", full.c_str(), name);
        }
        throw PythonError{};
    }

    void finish() {
        std::vector<const char*> missing;
        for (std::size_t i = 0; i < spec_.required; ++i) {
            if (slots_[i] == nullptr) missing.push_back(spec_.params[i]);
        }
        if (missing.empty()) return;
        std::string message = spec_.full_name() + " missing " + std::to_string(missing.size()) +
                              " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": ";
        for (std::size_t i = 0; i < missing.size(); ++i) {
            if (i > 0) message += (i + 1 == missing.size()) ? (missing.size() == 2 ? " and " : ", and ") : ", ";
            message += "'";
            message += missing[i];
            message += "'";
        }
        set_type_error(message);
        throw PythonError{};
    }

    PyObject* operator[](std::size_t i) const noexcept { return slots_[i]; }

private:
    const ArgSpec& spec_;
    PyObject* slots_[MAX_PARAMS] = {};
};

// Vectorcall arguments: positionals, then the values of `kwnames` in order.
void match_fastcall(ArgMatcher& matcher, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const std::size_t positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargs));
    matcher.positional(args, positional);
    if (kwnames != nullptr) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < count; ++i) {
            matcher.keyword(PyTuple_GET_ITEM(kwnames, i), args[positional + static_cast<std::size_t>(i)]);
        }
    }
    matcher.finish();
}

// tp_new arguments: a tuple and a dict (or nullptr).
void match_tuple_dict(ArgMatcher& matcher, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t count = PyTuple_GET_SIZE(args);
    matcher.positional(count > 0 ? &PyTuple_GET_ITEM(args, 0) : nullptr, static_cast<std::size_t>(count));
    if (kwargs != nullptr) {
        // Copy the pairs out first, so no error is raised inside the dict's lock.
        std::vector<std::pair<PyObject*, PyObject*>> pairs;
        std::vector<Ref> keep;
        Py_BEGIN_CRITICAL_SECTION(kwargs);
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_INCREF(key);
            Py_INCREF(value);
            pairs.emplace_back(key, value);
        }
        Py_END_CRITICAL_SECTION();
        for (auto& [key, value] : pairs) {
            keep.emplace_back(key);
            keep.emplace_back(value);
        }
        for (auto& [key, value] : pairs) matcher.keyword(key, value);
    }
    matcher.finish();
}

// A TypeError raised while converting an argument gets the parameter's name in
// front; any other error stays as it is.
[[noreturn]] void raise_argument_error(const char* param) {
    Ref error(PyErr_GetRaisedException());
    if (!error || !Py_IS_TYPE(error.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        PyErr_SetRaisedException(error.release());
        throw PythonError{};
    }
    Ref text(PyObject_Str(error.get()));
    if (!text) throw PythonError{};
    Ref message(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
    if (!message) throw PythonError{};
    Ref replacement(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replacement) throw PythonError{};
    if (PyObject* cause = PyException_GetCause(error.get())) PyException_SetCause(replacement.get(), cause);
    PyErr_SetRaisedException(replacement.release());
    throw PythonError{};
}

// The UTF-8 form of a str (or a subclass's stored text), borrowed for the call.
std::string_view text_argument(const char* param, PyObject* object) {
    if (!PyUnicode_Check(object)) {
        if (object == Py_None) {
            set_type_error("'None' is not an instance of 'str'");
        } else {
            set_type_error(not_instance_message(object, "str"));
        }
        raise_argument_error(param);
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) raise_argument_error(param);  // UnicodeEncodeError passes unchanged
    return {data, static_cast<std::size_t>(size)};
}

// --- quoted form of a reason -------------------------------------------------------

struct CodePointRange {
    char32_t first;
    char32_t last;
};

constexpr CodePointRange ESCAPED[] = {
#include "escape_ranges.inc"
};

static_assert(std::is_sorted(std::begin(ESCAPED), std::end(ESCAPED),
                             [](const CodePointRange& a, const CodePointRange& b) { return a.last < b.first; }));

bool escaped(char32_t cp) noexcept {
    const auto* after = std::upper_bound(std::begin(ESCAPED), std::end(ESCAPED), cp,
                                         [](char32_t c, const CodePointRange& r) { return c < r.first; });
    return after != std::begin(ESCAPED) && cp <= (after - 1)->last;
}

// Decodes one code point at `i` and advances past it; nullopt (and one byte
// skipped) for a malformed sequence, which the core never produces.
std::optional<char32_t> next_code_point(std::string_view text, std::size_t& i) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        length = 1, cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, min = 0x10000;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
        valid = (byte(i + k) & 0xC0) == 0x80;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    valid = valid && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    i += valid ? length : 1;
    return valid ? std::optional<char32_t>(cp) : std::nullopt;
}

void append_quoted(std::string& out, std::string_view reason) {
    static constexpr char HEX[] = "0123456789abcdef";
    out += '"';
    std::size_t i = 0;
    while (i < reason.size()) {
        const std::size_t start = i;
        const std::optional<char32_t> decoded = next_code_point(reason, i);
        if (!decoded) {
            out += "\xEF\xBF\xBD";  // U+FFFD, written as itself
            continue;
        }
        const char32_t cp = *decoded;
        switch (cp) {
            case 0x00: out += "\\0"; continue;
            case 0x09: out += "\\t"; continue;
            case 0x0A: out += "\\n"; continue;
            case 0x0D: out += "\\r"; continue;
            case 0x5C: out += "\\\\"; continue;
            case 0x22: out += "\\\""; continue;
            default: break;
        }
        if ((cp >= 0x20 && cp < 0x7F) || !escaped(cp)) {
            out.append(reason, start, i - start);
            continue;
        }
        char digits[8];
        int n = 0;
        for (char32_t v = cp; v != 0; v >>= 4) digits[n++] = HEX[v & 0xF];
        out += "\\u{";
        while (n > 0) out += digits[--n];
        out += '}';
    }
    out += '"';
}

// ===========================================================================
// Classes
// ===========================================================================

struct PyRegistry {
    static constexpr const char* class_name = "Registry";
    static PyType_Spec spec;
    static constinit inline std::atomic<PyTypeObject*> cell{nullptr};

    korvel::registry::Registry registry;
};

struct PyCheckResult {
    static constexpr const char* class_name = "CheckResult";
    static PyType_Spec spec;
    static constinit inline std::atomic<PyTypeObject*> cell{nullptr};

    std::string status;
    std::vector<std::string> reasons;
};

struct PyTldInfo {
    static constexpr const char* class_name = "TldInfo";
    static PyType_Spec spec;
    static constinit inline std::atomic<PyTypeObject*> cell{nullptr};

    std::string tld;
    std::string registerable;
    std::optional<std::string> reason;
    std::optional<std::string> note;
    std::vector<std::string> restrictions;
    std::uint8_t min_length;
    std::uint8_t max_length;
    std::string length_basis;
    std::vector<std::string> banned;
    std::string charset;
    std::string idn_chars;
    types::SourceMap sources;
};

// An attribute read or text form: receiver, borrow, a new object from the value.
template <class T, class Convert>
PyObject* read(PyObject* self, Convert convert) noexcept {
    return boundary<PyObject*>(nullptr, [&] {
        Receiver<T> receiver(self);
        return convert(receiver.value()).release();
    });
}

// --- Registry ----------------------------------------------------------------------

constexpr const char* NO_PARAMS[] = {nullptr};
constexpr ArgSpec NEW_ARGS{"Registry", "__new__", std::span<const char* const>(NO_PARAMS, 0), 0};
constexpr const char* CHECK_PARAMS[] = {"domain"};
constexpr ArgSpec CHECK_ARGS{"Registry", "check", CHECK_PARAMS, 1};
constexpr const char* TLD_INFO_PARAMS[] = {"tld"};
constexpr ArgSpec TLD_INFO_ARGS{"Registry", "tld_info", TLD_INFO_PARAMS, 1};
static_assert(NEW_ARGS.params.size() <= MAX_PARAMS && CHECK_ARGS.params.size() <= MAX_PARAMS &&
              TLD_INFO_ARGS.params.size() <= MAX_PARAMS);

PyObject* registry_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return boundary<PyObject*>(nullptr, [&] {
        ArgMatcher matcher(NEW_ARGS);
        match_tuple_dict(matcher, args, kwargs);
        return allocate(type, PyRegistry{});
    });
}

constexpr std::string_view STATUS_TEXT[] = {"yes", "no", "restricted", "unknown"};

PyObject* registry_check(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return boundary<PyObject*>(nullptr, [&] {
        ArgMatcher matcher(CHECK_ARGS);
        match_fastcall(matcher, args, nargs, kwnames);
        Receiver<PyRegistry> receiver(self);
        const std::string_view domain = text_argument("domain", matcher[0]);
        types::CheckResult result = receiver.value().registry.check(domain);
        const auto code = static_cast<std::size_t>(result.status);
        if (code >= std::size(STATUS_TEXT)) fault("check status out of range: " + std::to_string(code));
        return create_instance(PyCheckResult{std::string(STATUS_TEXT[code]), std::move(result.reasons)});
    });
}

PyObject* registry_tld_info(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        ArgMatcher matcher(TLD_INFO_ARGS);
        match_fastcall(matcher, args, nargs, kwnames);
        Receiver<PyRegistry> receiver(self);
        const std::string_view tld = text_argument("tld", matcher[0]);
        const types::TldRule* rule = receiver.value().registry.tld_info(tld);
        if (rule == nullptr) Py_RETURN_NONE;
        types::TldRuleSummary s = types::TldRuleSummary::from(*rule);
        return create_instance(PyTldInfo{
            std::move(s.tld), std::move(s.registerable), std::move(s.reason), std::move(s.note),
            std::move(s.restrictions), s.min_length, s.max_length, std::move(s.length_basis),
            std::move(s.banned), std::move(s.charset), std::move(s.idn_chars),
            types::sources_map(std::move(s.sources))});
    });
}

PyObject* registry_rule_count(PyObject* self, PyObject*) noexcept {
    return read<PyRegistry>(self, [](const PyRegistry&) { return new_int(generated::TLD_RULES.len()); });
}

PyObject* registry_stats(PyObject* self, PyObject*) noexcept {
    return read<PyRegistry>(self, [](const PyRegistry&) {
        unsigned long long yes = 0, no = 0, restricted = 0;
        for (const types::TldRule& rule : generated::TLD_RULES.entries()) {
            switch (rule.registerable) {
                case types::Registerable::Yes: ++yes; break;
                case types::Registerable::No: ++no; break;
                case types::Registerable::Restricted: ++restricted; break;
                default: fault("registerable value out of range in rule " + std::string(rule.tld));
            }
        }
        const unsigned long long total = generated::TLD_RULES.len();
        struct Entry {
            const char* key;
            const char* failure;
            std::optional<unsigned long long> count;  // nullopt: the float 100.0
        };
        const Entry entries[] = {
            {"compiled_rules", "set compiled_rules", total},
            {"total_known_suffixes", "set total_known_suffixes", total},
            {"registerable", "set registerable", yes},
            {"not_registerable", "set not_registerable", no},
            {"restricted", "set restricted", restricted},
            {"coverage_percent", "set coverage_percent", std::nullopt},
        };
        Ref dict = checked(PyDict_New());
        for (const Entry& entry : entries) {
            Ref key = new_str(entry.key);
            Ref value = entry.count ? new_int(*entry.count) : checked(PyFloat_FromDouble(100.0));
            const bool failed = injected_failure(entry.failure) || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0;
            value.reset();
            key.reset();
            if (failed) fault_with_pending_error(entry.failure);
        }
        return dict;
    });
}

// PyMethodDef holds every calling convention as a PyCFunction. Written as a
// cast in place, so that the tables stay static data.
#define KORVEL_AS_PYCFUNCTION(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function))

PyMethodDef registry_methods[] = {
    {"check", KORVEL_AS_PYCFUNCTION(registry_check), METH_FASTCALL | METH_KEYWORDS, "check($self, domain)\n--\n\n"},
    {"tld_info", KORVEL_AS_PYCFUNCTION(registry_tld_info), METH_FASTCALL | METH_KEYWORDS, "tld_info($self, tld)\n--\n\n"},
    {"rule_count", registry_rule_count, METH_NOARGS, "rule_count($self)\n--\n\n"},
    {"stats", registry_stats, METH_NOARGS, "stats($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot registry_slots[] = {
    {Py_tp_doc, const_cast<char*>("Registry()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(registry_new)},
    {Py_tp_methods, registry_methods},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyRegistry>)},
    {0, nullptr},
};

PyType_Spec PyRegistry::spec = {
    "builtins.Registry", static_cast<int>(Layout<PyRegistry>::size), 0, Py_TPFLAGS_DEFAULT, registry_slots};

// --- CheckResult -------------------------------------------------------------------

PyObject* check_result_status(PyObject* self, void*) noexcept {
    return read<PyCheckResult>(self, [](const PyCheckResult& v) { return new_str(v.status); });
}

PyObject* check_result_reasons(PyObject* self, void*) noexcept {
    return read<PyCheckResult>(self, [](const PyCheckResult& v) { return new_str_list(v.reasons); });
}

// repr() and str() alike.
PyObject* check_result_text(PyObject* self) noexcept {
    return read<PyCheckResult>(self, [](const PyCheckResult& v) {
        std::string text = "CheckResult(status='" + v.status + "', reasons=[";
        for (std::size_t i = 0; i < v.reasons.size(); ++i) {
            if (i > 0) text += ", ";
            append_quoted(text, v.reasons[i]);
        }
        text += "])";
        return new_str(text);
    });
}

PyGetSetDef check_result_getset[] = {
    {"status", check_result_status, nullptr, nullptr, nullptr},
    {"reasons", check_result_reasons, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot check_result_slots[] = {
    {Py_tp_repr, reinterpret_cast<void*>(check_result_text)},
    {Py_tp_str, reinterpret_cast<void*>(check_result_text)},
    {Py_tp_getset, check_result_getset},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyCheckResult>)},
    {0, nullptr},
};

PyType_Spec PyCheckResult::spec = {"builtins.CheckResult", static_cast<int>(Layout<PyCheckResult>::size), 0,
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, check_result_slots};

// --- TldInfo -----------------------------------------------------------------------

Ref new_optional_str(const std::optional<std::string>& text) {
    if (!text) return Ref(Py_NewRef(Py_None));
    return new_str(*text);
}

template <auto Field>
PyObject* tld_info_field(PyObject* self, void*) noexcept {
    return read<PyTldInfo>(self, [](const PyTldInfo& v) {
        const auto& field = v.*Field;
        using F = std::remove_cvref_t<decltype(field)>;
        if constexpr (std::is_same_v<F, std::string>) return new_str(field);
        else if constexpr (std::is_same_v<F, std::optional<std::string>>) return new_optional_str(field);
        else if constexpr (std::is_same_v<F, std::vector<std::string>>) return new_str_list(field);
        else return new_int(field);
    });
}

PyObject* get_sources(PyObject* self, void*) noexcept {
    return read<PyTldInfo>(self, [](const PyTldInfo& v) {
        Ref dict = checked(PyDict_New());
        for (const auto& [field, reference] : v.sources) {
            Ref key = new_str(field);
            Ref value = new_str(reference);
            const bool failed =
                injected_failure("failed to set source item") || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0;
            value.reset();
            key.reset();
            if (failed) fault_with_pending_error("failed to set source item");
        }
        return dict;
    });
}

PyObject* tld_info_repr(PyObject* self) noexcept {
    return read<PyTldInfo>(self, [](const PyTldInfo& v) {
        return new_str("TldInfo(tld='" + v.tld + "', registerable='" + v.registerable + "')");
    });
}

PyGetSetDef tld_info_getset[] = {
    {"tld", tld_info_field<&PyTldInfo::tld>, nullptr, nullptr, nullptr},
    {"registerable", tld_info_field<&PyTldInfo::registerable>, nullptr, nullptr, nullptr},
    {"reason", tld_info_field<&PyTldInfo::reason>, nullptr, nullptr, nullptr},
    {"note", tld_info_field<&PyTldInfo::note>, nullptr, nullptr, nullptr},
    {"restrictions", tld_info_field<&PyTldInfo::restrictions>, nullptr, nullptr, nullptr},
    {"min_length", tld_info_field<&PyTldInfo::min_length>, nullptr, nullptr, nullptr},
    {"max_length", tld_info_field<&PyTldInfo::max_length>, nullptr, nullptr, nullptr},
    {"length_basis", tld_info_field<&PyTldInfo::length_basis>, nullptr, nullptr, nullptr},
    {"banned", tld_info_field<&PyTldInfo::banned>, nullptr, nullptr, nullptr},
    {"charset", tld_info_field<&PyTldInfo::charset>, nullptr, nullptr, nullptr},
    {"idn_chars", tld_info_field<&PyTldInfo::idn_chars>, nullptr, nullptr, nullptr},
    {"sources", get_sources, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot tld_info_slots[] = {
    {Py_tp_repr, reinterpret_cast<void*>(tld_info_repr)},
    {Py_tp_getset, tld_info_getset},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyTldInfo>)},
    {0, nullptr},
};

PyType_Spec PyTldInfo::spec = {"builtins.TldInfo", static_cast<int>(Layout<PyTldInfo>::size), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, tld_info_slots};

// ===========================================================================
// Module
// ===========================================================================

PyObject* all_name() noexcept {
    return get_or_make(all_name_cell, [] { return PyUnicode_InternFromString("__all__"); });
}

template <class T>
void add_class(PyObject* module) {
    PyTypeObject* type = type_object<T>();
    if (type == nullptr) {
        PyObject* cause = PyErr_GetRaisedException();
        PyObject* error = PyObject_CallFunction(PyExc_RuntimeError, "s",
                                                (std::string("An error occurred while initializing class ") +
                                                 T::class_name).c_str());
        if (error == nullptr) {
            Py_XDECREF(cause);
            throw PythonError{};
        }
        PyException_SetCause(error, cause);
        PyErr_SetRaisedException(error);
        throw PythonError{};
    }
    Ref name = new_str(T::class_name);
    PyObject* all_key = all_name();
    if (all_key == nullptr) {
        if (PyErr_Occurred()) PyErr_WriteUnraisable(nullptr);
        fault("PyObject pointer is null");
    }
    Ref all(PyObject_GetAttr(module, all_key));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
        PyErr_Clear();
        Ref fresh = checked(PyList_New(0));
        if (PyObject_SetAttr(module, all_key, fresh.get()) < 0) throw PythonError{};
        all = std::move(fresh);
    } else if (!PyList_Check(all.get())) {
        raise_not_instance(all.get(), "list");
    }
    if (injected_failure("could not append __name__ to __all__") || PyList_Append(all.get(), name.get()) < 0) {
        fault_with_pending_error("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name.get(), reinterpret_cast<PyObject*>(type)) < 0) throw PythonError{};
}

int exec_module(PyObject* module) noexcept {
#ifdef KORVEL_PROBE
    if (const char* step = std::getenv("KORVEL_PROBE_FAIL")) arm(step);
#endif
    return boundary(-1, [&] {
        if (module == nullptr) {
            if (!PyErr_Occurred()) {
                PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
            }
            return -1;
        }
        if (!PyObject_TypeCheck(module, &PyModule_Type)) raise_not_instance(module, "module");
        add_class<PyRegistry>(module);
        add_class<PyCheckResult>(module);
        add_class<PyTldInfo>(module);
        return 0;
    });
}

#ifdef KORVEL_PROBE
// --- probe functions: test build only ----------------------------------------------

// fail_next(step): the next time this thread reaches `step`, the step meets a
// RuntimeError("injected failure") instead of doing its work.
PyObject* probe_fail_next(PyObject*, PyObject* step) noexcept {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        arm(std::string(text_argument("step", step)).c_str());
        Py_RETURN_NONE;
    });
}

// fault(registry, message): an internal fault in the middle of a borrow.
PyObject* probe_fault(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        if (nargs != 2) {
            set_type_error("fault() takes a Registry and a message");
            throw PythonError{};
        }
        Receiver<PyRegistry> receiver(args[0]);
        fault(std::string(text_argument("message", args[1])));
    });
}

// borrow_count(obj): the shared borrows an instance holds right now.
PyObject* probe_borrow_count(PyObject*, PyObject* object) noexcept {
    return boundary<PyObject*>(nullptr, [&] {
        if (is_instance<PyRegistry>(object)) return new_int(Layout<PyRegistry>::flag(object)->load()).release();
        if (is_instance<PyCheckResult>(object)) return new_int(Layout<PyCheckResult>::flag(object)->load()).release();
        if (is_instance<PyTldInfo>(object)) return new_int(Layout<PyTldInfo>::flag(object)->load()).release();
        raise_not_instance(object, "Registry, CheckResult or TldInfo");
    });
}

// quote(text): the quoted form that CheckResult's text form gives one reason.
PyObject* probe_quote(PyObject*, PyObject* text) noexcept {
    return boundary<PyObject*>(nullptr, [&] {
        std::string out;
        append_quoted(out, text_argument("text", text));
        return new_str(out).release();
    });
}

// rule_keys(): every key of the rule table.
PyObject* probe_rule_keys(PyObject*, PyObject*) noexcept {
    return boundary<PyObject*>(nullptr, [&] {
        const auto rules = generated::TLD_RULES.entries();
        Ref list = checked(PyList_New(static_cast<Py_ssize_t>(rules.size())));
        for (std::size_t i = 0; i < rules.size(); ++i) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_str(rules[i].tld).release());
        }
        return list.release();
    });
}

// exec_module(obj): runs the exec step on obj (None stands for no object).
PyObject* probe_exec_module(PyObject*, PyObject* object) noexcept {
    if (exec_module(object == Py_None ? nullptr : object) < 0) return nullptr;
    Py_RETURN_NONE;
}

// receiver_check(obj): the receiver test of a Registry method, on any object.
PyObject* probe_receiver_check(PyObject*, PyObject* object) noexcept {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        Receiver<PyRegistry> receiver(object);
        Py_RETURN_NONE;
    });
}

PyMethodDef probe_functions[] = {
    {"fail_next", probe_fail_next, METH_O, nullptr},
    {"fault", KORVEL_AS_PYCFUNCTION(probe_fault), METH_FASTCALL, nullptr},
    {"borrow_count", probe_borrow_count, METH_O, nullptr},
    {"quote", probe_quote, METH_O, nullptr},
    {"rule_keys", probe_rule_keys, METH_NOARGS, nullptr},
    {"exec_module", probe_exec_module, METH_O, nullptr},
    {"receiver_check", probe_receiver_check, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};
#define KORVEL_MODULE_FUNCTIONS probe_functions
#else
#define KORVEL_MODULE_FUNCTIONS nullptr
#endif

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    // The type objects are process-wide, so no subinterpreter may import the module.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

}  // namespace

PyModuleDef _native = {
    PyModuleDef_HEAD_INIT,
    KORVEL_MODULE_NAME,
    "",
    0,
    KORVEL_MODULE_FUNCTIONS,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace korvel::python

PyMODINIT_FUNC KORVEL_MODULE_INIT(void) { return PyModuleDef_Init(&korvel::python::_native); }
