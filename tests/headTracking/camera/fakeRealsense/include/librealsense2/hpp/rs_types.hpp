// Simulated librealsense2 for tests: the rs2::error exception family, with the
// classes, hierarchy and accessors of librealsense2 2.50. A failed C call
// reports an rs2_error; rs2::error::handle turns it into the exception of its
// type and frees it.
#ifndef LIBREALSENSE_RS2_TYPES_HPP
#define LIBREALSENSE_RS2_TYPES_HPP

#include "../h/rs_context.h"
#include "../h/rs_device.h"
#include "../h/rs_frame.h"
#include "../h/rs_pipeline.h"
#include "../h/rs_sensor.h"
#include "../rs.h"

#include <stdexcept>
#include <string>

namespace rs2 {

class error : public std::runtime_error {
public:
    // Takes over `err`: copies its message, failed function, argument text
    // and type, then frees it.
    explicit error(rs2_error* err)
        : std::runtime_error(rs2_get_error_message(err)),
          function_(TextOrEmpty(rs2_get_failed_function(err))),
          args_(TextOrEmpty(rs2_get_failed_args(err))),
          type_(rs2_get_librealsense_exception_type(err)) {
        rs2_free_error(err);
    }
    // An error raised by the wrapper itself: no function, no arguments, type unknown.
    explicit error(const std::string& message) : std::runtime_error(message), type_(RS2_EXCEPTION_TYPE_UNKNOWN) {}

    const std::string& get_failed_function() const { return function_; }
    const std::string& get_failed_args() const { return args_; }
    rs2_exception_type get_type() const { return type_; }

    // Throws the exception class of `e`'s type when `e` is set; returns otherwise.
    static void handle(rs2_error* e);

private:
    static std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

    std::string function_;
    std::string args_;
    rs2_exception_type type_;
};

#define FAKE_RS2_ERROR_CLASS(name, base)                  \
    class name : public base {                            \
    public:                                               \
        explicit name(rs2_error* e) noexcept : base(e) {} \
    }

FAKE_RS2_ERROR_CLASS(recoverable_error, error);
FAKE_RS2_ERROR_CLASS(unrecoverable_error, error);
FAKE_RS2_ERROR_CLASS(camera_disconnected_error, unrecoverable_error);
FAKE_RS2_ERROR_CLASS(backend_error, unrecoverable_error);
FAKE_RS2_ERROR_CLASS(device_in_recovery_mode_error, unrecoverable_error);
FAKE_RS2_ERROR_CLASS(invalid_value_error, recoverable_error);
FAKE_RS2_ERROR_CLASS(wrong_api_call_sequence_error, recoverable_error);
FAKE_RS2_ERROR_CLASS(not_implemented_error, recoverable_error);
#undef FAKE_RS2_ERROR_CLASS

inline void error::handle(rs2_error* e) {
    if (!e) return;
    switch (rs2_get_librealsense_exception_type(e)) {
        case RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED: throw camera_disconnected_error(e);
        case RS2_EXCEPTION_TYPE_BACKEND: throw backend_error(e);
        case RS2_EXCEPTION_TYPE_INVALID_VALUE: throw invalid_value_error(e);
        case RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE: throw wrong_api_call_sequence_error(e);
        case RS2_EXCEPTION_TYPE_NOT_IMPLEMENTED: throw not_implemented_error(e);
        case RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE: throw device_in_recovery_mode_error(e);
        default: throw error(e);
    }
}

}  // namespace rs2

#endif
