-- wrk: GET on keep-alive connections (wrk's default); extra headers come from -H
wrk.method = "GET"
