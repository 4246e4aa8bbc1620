Say "café"
