-- wrk: PROPFIND Depth 1 with an allprop body, as WebDAV clients list a folder
wrk.method = "PROPFIND"
wrk.headers["Depth"] = "1"
wrk.headers["Content-Type"] = "application/xml; charset=utf-8"
wrk.body = '<?xml version="1.0" encoding="utf-8"?><D:propfind xmlns:D="DAV:"><D:allprop/></D:propfind>'
