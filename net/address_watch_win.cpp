// Address changes on Windows: the IP Helper's unicast address change
// notification. Its callback runs on a thread of the system's pool and only
// posts the change to the I/O service.
#include "net/address_watch.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include "trace/trace.h"

struct AddressWatch::Impl {
    explicit Impl(boost::asio::io_service& service) : ioService(service) {}

    static VOID WINAPI changed(PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE type)
    {
        // The initial notification is not a change.
        if (type == MibInitialNotification)
            return;
        Impl* impl = static_cast<Impl*>(context);
        std::weak_ptr<bool> weak = impl->alive;
        impl->ioService.post([impl, weak] {
            if (!weak.expired())
                impl->onChange();
        });
    }

    boost::asio::io_service& ioService;
    std::function<void()> onChange;
    HANDLE handle = nullptr;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

AddressWatch::AddressWatch(boost::asio::io_service& ioService) : impl_(new Impl(ioService)) {}

AddressWatch::~AddressWatch()
{
    // Waits for a callback that is running; none comes after it.
    if (impl_->handle != nullptr)
        ::CancelMibChangeNotify2(impl_->handle);
    impl_->alive.reset();
}

bool AddressWatch::start(std::function<void()> onChange)
{
    impl_->onChange = std::move(onChange);
    DWORD rc = ::NotifyUnicastIpAddressChange(AF_INET, &Impl::changed, impl_.get(), FALSE, &impl_->handle);
    if (rc != NO_ERROR) {
        impl_->handle = nullptr;
        trace("AddressWatch::start  no IP Helper notice [%lu]\n", static_cast<unsigned long>(rc));
        return false;
    }
    return true;
}
