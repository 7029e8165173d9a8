// The per-platform halves of RegistryFixture, beside the constructor and destructor that
// each platform file defines along with RegistryFixture::State.
#pragma once

#include <string>

#include "support/registry_fixture.h"

// Installs text that has its test server path filled in already; reports failures itself.
bool installRegistryText(RegistryFixture::State& state, const std::string& regText);
// Takes away everything installRegistryText put in place; safe to call again.
void removeRegistryText(RegistryFixture::State& state);
