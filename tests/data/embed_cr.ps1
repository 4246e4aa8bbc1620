Say "ok"
