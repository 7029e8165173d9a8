// The per-platform halves of RegistryFixture, beside the constructor and destructor that
// each platform file defines along with RegistryFixture::State.
#pragma once

#include <string>

#include "platform/reg_text.h"
#include "support/registry_fixture.h"

// Installs text that has its test server path filled in already, and that parses as `tree`;
// reports failures itself.
bool installRegistryText(RegistryFixture::State& state, const std::string& regText,
                         const RegTextKey& tree);
// Takes away everything installRegistryText put in place; safe to call again.
void removeRegistryText(RegistryFixture::State& state);
