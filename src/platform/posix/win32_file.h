// Placeholder: filled in by the file part of the POSIX layer.
#pragma once
