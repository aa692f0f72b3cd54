// Address changes on Windows, by the IP Helper's notifications. Vista and
// later: the unicast address change notification, looked up at run time;
// its callback runs on a thread of the system's pool. XP and Server 2003:
// NotifyAddrChange, which signals an event once per change until it is
// asked again; a wait of the system's thread pool on that event asks again.
// Either callback only posts the change to the I/O service.
#include "net/address_watch.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include "hostinfo/system_function.h"
#include "trace/trace.h"

namespace {

// The types of the Vista functions, which the headers declare only for a
// build that needs Vista.
constexpr int kMibInitialNotification = 3;
using UnicastChangeCallback = VOID(WINAPI*)(PVOID context, PVOID row, int type);
using NotifyUnicastFunction = DWORD(WINAPI*)(USHORT family, UnicastChangeCallback callback, PVOID context,
                                             BOOLEAN initialNotification, HANDLE* handle);
using CancelNotifyFunction = DWORD(WINAPI*)(HANDLE handle);

}  // namespace

struct AddressWatch::Impl {
    explicit Impl(boost::asio::io_service& service) : ioService(service) {}

    void post()
    {
        std::weak_ptr<bool> weak = alive;
        ioService.post([this, weak] {
            if (!weak.expired())
                onChange();
        });
    }

    static VOID WINAPI unicastChanged(PVOID context, PVOID, int type)
    {
        // The initial notification is not a change.
        if (type == kMibInitialNotification)
            return;
        static_cast<Impl*>(context)->post();
    }

    static VOID CALLBACK addressChanged(PVOID context, BOOLEAN)
    {
        Impl* impl = static_cast<Impl*>(context);
        impl->post();
        impl->askForNextChange();
    }

    DWORD askForNextChange()
    {
        HANDLE ignored = nullptr;
        DWORD rc = ::NotifyAddrChange(&ignored, overlapped);
        return rc == ERROR_IO_PENDING ? NO_ERROR : rc;
    }

    bool startAddrChange()
    {
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event == nullptr)
            return false;
        overlapped = new OVERLAPPED{};
        overlapped->hEvent = event;
        DWORD rc = askForNextChange();
        // The callback asks again from its thread, and XP cancels a request
        // when the thread that made it ends: a thread that never ends.
        if (rc == NO_ERROR && RegisterWaitForSingleObject(&wait, event, &Impl::addressChanged, this, INFINITE,
                                                          WT_EXECUTEINPERSISTENTTHREAD))
            return true;
        trace("AddressWatch::start  no IP Helper notice [%lu]\n",
              static_cast<unsigned long>(rc != NO_ERROR ? rc : GetLastError()));
        wait = nullptr;
        releaseRequest(rc == NO_ERROR);
        return false;
    }

    void stopAddrChange()
    {
        // Waits for a callback that is running; none comes after it, and
        // none asks again.
        UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
        wait = nullptr;
        releaseRequest(true);
    }

    // A cancelled request completes and signals its event. One that the
    // system did not cancel (XP cancels only the requests of the thread that
    // cancels, and the pool's threads asked) would still write into its
    // OVERLAPPED at the next change: that one stays allocated.
    void releaseRequest(bool pending)
    {
        if (!pending ||
            (::CancelIPChangeNotify(overlapped) && WaitForSingleObject(overlapped->hEvent, 1000) == WAIT_OBJECT_0)) {
            CloseHandle(overlapped->hEvent);
            delete overlapped;
        }
        overlapped = nullptr;
    }

    boost::asio::io_service& ioService;
    std::function<void()> onChange;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    // Vista and later.
    CancelNotifyFunction cancelUnicast = nullptr;
    HANDLE unicastHandle = nullptr;
    // XP and Server 2003.
    OVERLAPPED* overlapped = nullptr;
    HANDLE wait = nullptr;
};

AddressWatch::AddressWatch(boost::asio::io_service& ioService) : impl_(new Impl(ioService)) {}

AddressWatch::~AddressWatch()
{
    // Waits for a callback that is running; none comes after it.
    if (impl_->unicastHandle != nullptr)
        impl_->cancelUnicast(impl_->unicastHandle);
    if (impl_->wait != nullptr)
        impl_->stopAddrChange();
    impl_->alive.reset();
}

bool AddressWatch::start(std::function<void()> onChange)
{
    impl_->onChange = std::move(onChange);
    auto notify = sysfn::find<NotifyUnicastFunction>("iphlpapi", "NotifyUnicastIpAddressChange");
    auto cancel = sysfn::find<CancelNotifyFunction>("iphlpapi", "CancelMibChangeNotify2");
    if (notify == nullptr || cancel == nullptr)
        return impl_->startAddrChange();
    DWORD rc = notify(AF_INET, &Impl::unicastChanged, impl_.get(), FALSE, &impl_->unicastHandle);
    if (rc != NO_ERROR) {
        impl_->unicastHandle = nullptr;
        trace("AddressWatch::start  no IP Helper notice [%lu]\n", static_cast<unsigned long>(rc));
        return false;
    }
    impl_->cancelUnicast = cancel;
    return true;
}
