// QueryInterface as every in-process object of the drivers and the tests' server answers it.
// Header-only, so that the drivers, which link nothing of the core, share it.
#pragma once

#include "platform/win32.h"

// The object itself, with a reference taken, when it has the interface asked for (`known`);
// else E_NOINTERFACE and null, or E_POINTER when there is no place for the answer.
template <typename Object> HRESULT answerQuery(Object* self, bool known, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (!known) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = self;
    self->AddRef();
    return S_OK;
}
