#!/usr/bin/env escript
%%! +S 1 +sbwt none +sbwtdcpu none +sbwtdio none
%% Erlang/OTP side of the message cross-check. DIR holds the message modules
%% compiled with "erlc -bper +maps".
%%
%%   msg_peer.escript DIR MODULE random COUNT SEED TYPE [GENMODULE]
%%     Prints COUNT lines, each the hex encoding of a random value of
%%     MODULE.TYPE ("-" for no octets); SEED fixes the sequence. With
%%     GENMODULE the values are made from that module's TYPE (a root-only
%%     variant of MODULE) and encoded with MODULE.
%%
%%   msg_peer.escript DIR MODULE recode TYPE FILE
%%     FILE holds one hex encoding per line. Each is decoded as TYPE and the
%%     decoded value encoded again; prints "ok Hex" with Erlang's encoding, or
%%     "bad <reason>", one line per input line.
%%
%%   msg_peer.escript DIR MODULE time TYPE FILE ROUNDS
%%     Times decoding every encoding in FILE as TYPE, and encoding the
%%     decoded values again, ROUNDS times each; prints the best round's
%%     nanoseconds per value: "values N decode_ns D encode_ns E".
%% One scheduler that sleeps when idle: the peer runs well on a busy machine.
-mode(compile).

main([Dir, Mod, "random", Count, Seed, Type]) ->
    main([Dir, Mod, "random", Count, Seed, Type, Mod]);
main([Dir, Mod, "random", Count, Seed, Type, Gen]) ->
    true = code:add_patha(Dir),
    ok = file:set_cwd(Dir),
    M = list_to_atom(Mod),
    G = list_to_atom(Gen),
    T = list_to_atom(Type),
    _ = rand:seed(exsss, {list_to_integer(Seed), 11, 2027}),
    Value = value_source(G),
    lists:foreach(fun(_) -> random(Value, M, T) end, lists:seq(1, list_to_integer(Count)));
main([Dir, Mod, "recode", Type, File]) ->
    true = code:add_patha(Dir),
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    {ok, Text} = file:read_file(File),
    Lines = [L || L <- binary:split(Text, <<"\n">>, [global]), L =/= <<>>],
    lists:foreach(fun(L) -> io:format("~s~n", [recode(M, T, L)]) end, Lines);
main([Dir, Mod, "time", Type, File, Rounds]) ->
    true = code:add_patha(Dir),
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    {ok, Text} = file:read_file(File),
    Bins = [unhex(L) || L <- binary:split(Text, <<"\n">>, [global]), L =/= <<>>],
    Values = [begin {ok, V} = M:decode(T, B), V end || B <- Bins],
    R = lists:seq(1, list_to_integer(Rounds)),
    Decode = lists:min([element(1, timer:tc(fun() -> [{ok, _} = M:decode(T, B) || B <- Bins] end)) || _ <- R]),
    Encode = lists:min([element(1, timer:tc(fun() -> [{ok, _} = M:encode(T, V) || V <- Values] end)) || _ <- R]),
    N = length(Bins),
    io:format("values ~b decode_ns ~.1f encode_ns ~.1f~n", [N, 1000 * Decode / N, 1000 * Encode / N]);
main(_) ->
    io:format(standard_error, "usage: msg_peer.escript DIR MODULE random COUNT SEED TYPE | "
              "DIR MODULE recode TYPE FILE | DIR MODULE time TYPE FILE ROUNDS~n", []),
    halt(2).

%% Random values of module M's types, quickly. asn1ct:value/2 checks the
%% whole module again for every value (some 10 ms each); the same steps are
%% taken here once per run, from asn1ct's own code with its helpers made
%% callable. Where that code cannot be had, every value goes through
%% asn1ct:value/2.
value_source(M) ->
    case catch fast_values(M) of
        ok -> fun(T) -> asn1ct:get_value(M, T) end;
        _ -> fun(T) -> asn1ct:value(M, T) end
    end.

fast_values(M) ->
    {ok, {_, [{abstract_code, {_, Forms}}]}} = beam_lib:chunks(code:which(asn1ct), [abstract_code]),
    {ok, asn1ct, Bin} = compile:forms(Forms, [export_all, nowarn_export_all, binary, return_errors]),
    _ = code:soft_purge(asn1ct),
    {module, asn1ct} = code:load_binary(asn1ct, "asn1ct.erl", Bin),
    _ = asn1ct:start([]),
    {ok, _} = asn1ct:check(M, []),
    ok.

random(Value, M, T) ->
    {ok, V} = Value(T),
    case catch M:encode(T, V) of
        {ok, B} -> io:format("~s~n", [hex(B)]);
        Err -> io:format("bad encode ~0p of ~0p~n", [Err, V])
    end.

recode(M, T, Hex) ->
    case catch M:decode(T, unhex(Hex)) of
        {ok, V} ->
            case catch M:encode(T, V) of
                {ok, B} -> "ok " ++ hex(B);
                E -> io_lib:format("bad encode ~0p", [E])
            end;
        E -> io_lib:format("bad decode ~0p", [E])
    end.

unhex(<<"-">>) -> <<>>;
unhex(H) -> binary:decode_hex(H).

hex(<<>>) -> "-";
hex(B) -> string:lowercase(binary_to_list(binary:encode_hex(B))).
