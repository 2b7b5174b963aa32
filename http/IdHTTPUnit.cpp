// Keeps the library non-empty until its units arrive; removed when they do.
