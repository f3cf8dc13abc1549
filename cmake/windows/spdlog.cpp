// spdlog compiled once, into a DLL of its own, for Windows builds that take
// spdlog from the build machine's headers. As a header-only library every DLL
// and program would keep its own logger registry and default logger; as one
// DLL the engine's log lines reach the logger its host installs, as they do
// with a package manager's spdlog.
//
// The implementations are the library's own "-inl.h" files; the templates
// that the compiled library's users cannot instantiate themselves (sinks and
// factories) are instantiated here for the mutex types the library offers.

#ifndef SPDLOG_COMPILED_LIB
#error "spdlog.cpp is built with SPDLOG_COMPILED_LIB"
#endif

#include <mutex>

#include <spdlog/async.h>
#include <spdlog/details/null_mutex.h>

#include <spdlog/async_logger-inl.h>
#include <spdlog/cfg/helpers-inl.h>
#include <spdlog/common-inl.h>
#include <spdlog/details/backtracer-inl.h>
#include <spdlog/details/file_helper-inl.h>
#include <spdlog/details/log_msg-inl.h>
#include <spdlog/details/log_msg_buffer-inl.h>
#include <spdlog/details/os-inl.h>
#include <spdlog/details/periodic_worker-inl.h>
#include <spdlog/details/registry-inl.h>
#include <spdlog/details/thread_pool-inl.h>
#include <spdlog/logger-inl.h>
#include <spdlog/pattern_formatter-inl.h>
#include <spdlog/sinks/base_sink-inl.h>
#include <spdlog/sinks/basic_file_sink-inl.h>
#include <spdlog/sinks/sink-inl.h>
#include <spdlog/sinks/stdout_color_sinks-inl.h>
#include <spdlog/sinks/stdout_sinks-inl.h>
#include <spdlog/spdlog-inl.h>
#ifdef _WIN32
#include <spdlog/sinks/wincolor_sink-inl.h>
#else
#include <spdlog/sinks/ansicolor_sink-inl.h>
#endif

namespace spdlog {

template SPDLOG_API logger::logger(std::string name, sinks_init_list::iterator begin, sinks_init_list::iterator end);

namespace sinks {
template class SPDLOG_API base_sink<std::mutex>;
template class SPDLOG_API base_sink<details::null_mutex>;
template class SPDLOG_API basic_file_sink<std::mutex>;
template class SPDLOG_API basic_file_sink<details::null_mutex>;
template class SPDLOG_API stdout_sink_base<details::console_mutex>;
template class SPDLOG_API stdout_sink_base<details::console_nullmutex>;
template class SPDLOG_API stdout_sink<details::console_mutex>;
template class SPDLOG_API stdout_sink<details::console_nullmutex>;
template class SPDLOG_API stderr_sink<details::console_mutex>;
template class SPDLOG_API stderr_sink<details::console_nullmutex>;
#ifdef _WIN32
template class SPDLOG_API wincolor_sink<details::console_mutex>;
template class SPDLOG_API wincolor_sink<details::console_nullmutex>;
template class SPDLOG_API wincolor_stdout_sink<details::console_mutex>;
template class SPDLOG_API wincolor_stdout_sink<details::console_nullmutex>;
template class SPDLOG_API wincolor_stderr_sink<details::console_mutex>;
template class SPDLOG_API wincolor_stderr_sink<details::console_nullmutex>;
#else
template class SPDLOG_API ansicolor_sink<details::console_mutex>;
template class SPDLOG_API ansicolor_sink<details::console_nullmutex>;
template class SPDLOG_API ansicolor_stdout_sink<details::console_mutex>;
template class SPDLOG_API ansicolor_stdout_sink<details::console_nullmutex>;
template class SPDLOG_API ansicolor_stderr_sink<details::console_mutex>;
template class SPDLOG_API ansicolor_stderr_sink<details::console_nullmutex>;
#endif
}  // namespace sinks

template SPDLOG_API std::shared_ptr<logger> stdout_color_mt<synchronous_factory>(const std::string&, color_mode);
template SPDLOG_API std::shared_ptr<logger> stdout_color_st<synchronous_factory>(const std::string&, color_mode);
template SPDLOG_API std::shared_ptr<logger> stderr_color_mt<synchronous_factory>(const std::string&, color_mode);
template SPDLOG_API std::shared_ptr<logger> stderr_color_st<synchronous_factory>(const std::string&, color_mode);
template SPDLOG_API std::shared_ptr<logger> stdout_logger_mt<synchronous_factory>(const std::string&);
template SPDLOG_API std::shared_ptr<logger> stdout_logger_st<synchronous_factory>(const std::string&);
template SPDLOG_API std::shared_ptr<logger> stderr_logger_mt<synchronous_factory>(const std::string&);
template SPDLOG_API std::shared_ptr<logger> stderr_logger_st<synchronous_factory>(const std::string&);

}  // namespace spdlog
