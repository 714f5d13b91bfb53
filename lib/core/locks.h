// Placeholder: filled in with this module.
#pragma once
