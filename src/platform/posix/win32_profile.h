// Placeholder: filled in by the profile part of the POSIX layer.
#pragma once
