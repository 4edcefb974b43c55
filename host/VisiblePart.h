#pragma once
// The visible part of the image as the control's page sees it
// (IRAVOVavIrezView): the scale and the part in image pixels, a copy taken
// when the page asked.
#include "AutomationObject.h"
#include "PageEvents.h"
#include "rozerado_h.h"

class VisiblePart final : public AutomationObject<IRAVOVavIrezView> {
public:
    // A new object with one reference for the caller; null without memory.
    static IRAVOVavIrezView* create(const PageView& view);

    HRESULT STDMETHODCALLTYPE get_Scale(double* value) override { return number(value, view_.scale); }
    HRESULT STDMETHODCALLTYPE get_X(double* value) override { return number(value, view_.x); }
    HRESULT STDMETHODCALLTYPE get_Y(double* value) override { return number(value, view_.y); }
    HRESULT STDMETHODCALLTYPE get_Width(double* value) override { return number(value, view_.width); }
    HRESULT STDMETHODCALLTYPE get_Height(double* value) override { return number(value, view_.height); }

private:
    explicit VisiblePart(const PageView& view) : AutomationObject(IID_IRAVOVavIrezView), view_(view) {}
    static HRESULT number(double* value, double number)
    {
        if (!value)
            return E_POINTER;
        *value = number;
        return S_OK;
    }

    const PageView view_;
};
