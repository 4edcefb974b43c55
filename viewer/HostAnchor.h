#pragma once
// The object that hosts a viewer (a plug-in instance or the ActiveX control)
// as seen from the viewer's windows. Every message to those windows holds the
// host while it is handled, so that a host torn down by the page during a
// message box, a dialog or a call to the browser is freed only when the
// outermost call into it has returned, never under code still running in it.
class HostAnchor {
public:
    // A call into the host begins.
    virtual void holdHost() = 0;
    // It ends. The host may free itself here: the caller touches nothing of
    // the host (nor of the windows it owns) afterwards.
    virtual void releaseHost() = 0;
    // True once the host has been told to go (its page removed it): calls
    // out to the browser and further work for the page must not start.
    virtual bool hostClosing() const = 0;

protected:
    ~HostAnchor() = default;
};

// Holds a host for the life of a scope (no host: does nothing).
class HostHold {
public:
    explicit HostHold(HostAnchor* anchor) : anchor_(anchor)
    {
        if (anchor_)
            anchor_->holdHost();
    }
    ~HostHold()
    {
        if (anchor_)
            anchor_->releaseHost();
    }
    HostHold(const HostHold&) = delete;
    HostHold& operator=(const HostHold&) = delete;

private:
    HostAnchor* anchor_;
};
