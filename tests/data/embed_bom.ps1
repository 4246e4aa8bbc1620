Say "ok"
