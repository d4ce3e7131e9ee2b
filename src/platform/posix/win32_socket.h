// Placeholder: filled in by the socket part of the POSIX layer.
#pragma once
