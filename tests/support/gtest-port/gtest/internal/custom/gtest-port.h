// GoogleTest's platform settings for the test executables, found before the distribution's own
// (empty) file of this name.
//
// The test processes run one thread, and GoogleTest is built without its thread support
// (GTEST_IS_THREADSAFE=0): a thread-safe build starts a watcher thread in every process at its
// first SCOPED_TRACE or failure, and where qemu-user runs 32-bit code a second thread is enough
// to hang a 32-bit Wine process in its next GetFileInformationByHandle, as the program's log
// opening calls. Without thread support GoogleTest's Windows death tests still want its handle
// holder, which it declares only with thread support; it is given here.
#ifndef PELMORA_GTEST_CUSTOM_PORT_H
#define PELMORA_GTEST_CUSTOM_PORT_H

#if defined(_WIN32) && defined(GTEST_IS_THREADSAFE) && !GTEST_IS_THREADSAFE
#include <windows.h>

namespace testing
{
namespace internal
{

class AutoHandle
{
  public:
    typedef void* Handle;
    AutoHandle() : handle_(INVALID_HANDLE_VALUE) {}
    explicit AutoHandle(Handle handle) : handle_(handle) {}
    ~AutoHandle()
    {
        Reset();
    }
    Handle Get() const
    {
        return handle_;
    }
    void Reset()
    {
        Reset(INVALID_HANDLE_VALUE);
    }
    void Reset(Handle handle)
    {
        if (handle_ != handle && handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
        handle_ = handle;
    }
    AutoHandle(const AutoHandle&) = delete;
    AutoHandle& operator=(const AutoHandle&) = delete;

  private:
    Handle handle_;
};

} // namespace internal
} // namespace testing
#endif

#endif
